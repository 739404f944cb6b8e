// Runs one command and prints its wall time in seconds, its peak resident memory in KiB and its exit
// status on one line: "SECONDS MAXRSS_KIB STATUS". The command's own output goes to /dev/null.
//
//   tovrel_measure COMMAND [ARGUMENT...]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: tovrel_measure COMMAND [ARGUMENT...]\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child < 0) {
    std::perror("tovrel_measure: fork");
    return 2;
  }
  if (child == 0) {
    const int quiet = open("/dev/null", O_WRONLY);
    if (quiet < 0 || dup2(quiet, STDOUT_FILENO) < 0 || dup2(quiet, STDERR_FILENO) < 0) _exit(126);
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  // wait4 reports the peak of this child alone, not of every child the wrapper ever had
  if (wait4(child, &status, 0, &usage) != child) {
    std::perror("tovrel_measure: wait4");
    return 2;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::printf("%.6f %ld %d\n", seconds, usage.ru_maxrss, code);
  return 0;
}
