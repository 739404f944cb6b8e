// Runs one command and prints, on one line, its wall time in seconds, its peak resident memory in KiB,
// its exit status and the processor time it used (user + system) in seconds:
// "SECONDS MAXRSS_KIB STATUS CPU_SECONDS". The command's own output goes to /dev/null.
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
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  std::printf("%.6f %ld %d %.6f\n", seconds, usage.ru_maxrss, code, cpu);
  return 0;
}
