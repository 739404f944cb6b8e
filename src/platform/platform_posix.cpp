// POSIX implementation of the platform layer: absolute paths that leave ".." to the kernel, stat-based
// tests, an opendir search, files opened without blocking and created exclusively, file replacement by
// rename, and the removal of live temporaries when SIGINT, SIGTERM or SIGHUP ends the run.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/platform_internal.h"
#include "platform/platform_test_helper.h"

namespace tovrel {

const std::size_t kMaxPath = PATH_MAX;
const char kPathSeparators[] = "/";

namespace {

// Records the reason behind the failed system call that set errno.
bool FailWithErrno() {
  RecordErrno("an unknown failure");
  return false;
}

bool Fail(const char* reason) {
  RecordFailure(reason);
  return false;
}

// The directory part of `path` (without its last separator), "." when it has none.
std::string DirectoryOf(const char* path) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) return ".";
  if (slash == path) return "/";
  return std::string(path, static_cast<std::size_t>(slash - path));
}

// Pushes a directory's entry list to disk so a completed rename survives a crash. Best effort: some
// file systems cannot sync a directory, and the rename has already happened either way.
void SyncDirectoryOf(const char* path) {
  const int fd = open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)fsync(fd);
  (void)close(fd);
}

// The signals that end a run which may clean up first: Ctrl+C, kill's default, the terminal hung up.
constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};

// One temporary made and not yet put in place or removed. The path is written before `live` is set,
// and only while the interrupts are blocked, so the handler reads each slot whole.
struct LiveTemporary {
  std::atomic<bool> live;
  char path[PATH_MAX];
};
static_assert(std::atomic<bool>::is_always_lock_free, "the handler may read only lock-free atomics");
LiveTemporary liveTemporaries[kMaxLiveTemporaries];
std::size_t liveCount = 0;

// Blocks the interrupts for its lifetime: a temporary is made and listed, or put in place and struck
// off, as one step that no handler can cut in two.
class InterruptsHeld {
 public:
  InterruptsHeld() {
    sigset_t set;
    (void)sigemptyset(&set);
    for (const int signal : kInterrupts) (void)sigaddset(&set, signal);
    (void)sigprocmask(SIG_BLOCK, &set, &saved_);
  }
  ~InterruptsHeld() { (void)sigprocmask(SIG_SETMASK, &saved_, nullptr); }
  InterruptsHeld(const InterruptsHeld&) = delete;
  InterruptsHeld& operator=(const InterruptsHeld&) = delete;

 private:
  sigset_t saved_;
};

// The interrupt handler: only async-signal-safe calls (unlink, raise) on the paths listed in advance.
// Every live temporary goes (none, once the run's files are in place); then the signal, raised again
// with its default action back, waits until the handler returns and ends the process as it would have
// without us. The interrupts are blocked in here, so a second one cannot cut the removal short.
void RemoveLiveTemporaries(int signal) {
  for (const LiveTemporary& temporary : liveTemporaries) {
    if (temporary.live.load(std::memory_order_acquire)) (void)unlink(temporary.path);
  }
  (void)raise(signal);
}

// Installs the handler, once and for good, for each interrupt the run has not been told to ignore
// (nohup, a background job). Requires: the interrupts held.
void ArmInterrupts() {
  static bool armed = false;
  if (armed) return;
  armed = true;
  struct sigaction action {};
  action.sa_handler = RemoveLiveTemporaries;
  action.sa_flags = SA_RESETHAND;
  (void)sigemptyset(&action.sa_mask);
  for (const int signal : kInterrupts) (void)sigaddset(&action.sa_mask, signal);
  for (const int signal : kInterrupts) {
    struct sigaction previous {};
    if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    (void)sigaction(signal, &action, nullptr);
  }
}

// Lists `path` as live. Requires: the interrupts held, a free slot, and PathFits(path).
void RegisterTemporary(const std::string& path) {
  ArmInterrupts();
  for (LiveTemporary& temporary : liveTemporaries) {
    if (temporary.live.load(std::memory_order_relaxed)) continue;
    std::memcpy(temporary.path, path.c_str(), path.size() + 1);
    temporary.live.store(true, std::memory_order_release);
    liveCount += 1;
    return;
  }
}

// Strikes `path` off the list. Requires: the interrupts held.
void ForgetTemporary(const char* path) {
  for (LiveTemporary& temporary : liveTemporaries) {
    if (!temporary.live.load(std::memory_order_relaxed) || std::strcmp(temporary.path, path) != 0) continue;
    temporary.live.store(false, std::memory_order_release);
    liveCount -= 1;
    return;
  }
}

// A stdio stream over the descriptor `fd`, which it then owns; on failure `fd` is closed.
std::FILE* StreamOf(int fd, const char* mode) {
  std::FILE* file = fdopen(fd, mode);
  if (file == nullptr) {
    (void)FailWithErrno();
    (void)close(fd);
  }
  return file;
}

}  // namespace

bool PathFits(const std::string& path) { return path.size() < kMaxPath; }

std::vector<std::string> CommandLineArguments(int argc, char** argv) { return {argv, argv + argc}; }

std::vector<std::string> ExpandWildcards(const std::string& arg) { return {arg}; }

bool MakeAbsolutePath(const char* path, std::string* out) {
  std::string joined;
  if (path[0] != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) return false;
    joined = cwd;
    joined += '/';
  }
  joined += path;

  // drop "." components and empty ones; ".." stays, since only the kernel knows where it leads
  // after a symbolic link
  std::string result;
  std::size_t start = 0;
  while (start <= joined.size()) {
    std::size_t end = joined.find('/', start);
    if (end == std::string::npos) end = joined.size();
    const std::string part = joined.substr(start, end - start);
    if (!part.empty() && part != ".") result += "/" + part;
    start = end + 1;
  }
  // a trailing separator says "directory": keep it, so "x.sav/" does not turn into the file x.sav
  const std::string last = joined.substr(joined.rfind('/') + 1);
  if (result.empty() || last.empty() || last == "." || last == "..") result += '/';
  if (!PathFits(result)) return false;
  *out = result;
  return true;
}

bool PathExists(const char* path) {
  // stat follows links: a dangling link names nothing that could be read
  struct stat info;
  return stat(path, &info) == 0;
}

bool IsDirectory(const char* path) {
  struct stat info;
  return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

bool ReadMatchingEntries(const char* directory, const char* baseName, std::vector<FoundFile>* entries) {
  DIR* dir = opendir(directory);
  if (dir == nullptr) return FailWithErrno();
  const std::size_t baseLength = std::strlen(baseName);
  const dirent* entry;
  while ((errno = 0, entry = readdir(dir)) != nullptr) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    // a literal prefix compare: '*', '?' and '[' in the base match only themselves
    if (std::strncmp(name, baseName, baseLength) != 0) continue;
    if (name[baseLength] != '\0' && name[baseLength] != '.') continue;
    const std::string fullPath = std::string(directory) + name;
    // a dangling link or an entry that vanished is not a directory; reading it will tell the rest
    entries->push_back(FoundFile{name, PathFits(fullPath) && IsDirectory(fullPath.c_str())});
  }
  const int readError = errno;  // null with errno unset is the normal end
  (void)closedir(dir);
  if (readError == 0) return true;
  errno = readError;
  return FailWithErrno();
}

bool SamePath(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

std::FILE* OpenFile(const char* path, const char* mode) {
  const bool write = std::strcmp(mode, "r+b") == 0;
  // O_NONBLOCK: opening a FIFO without a writer would otherwise wait forever
  const int fd = open(path, (write ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    (void)FailWithErrno();
    return nullptr;
  }
  struct stat info;
  const bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  if (!regular) {
    (void)Fail("it is not a regular file");
    (void)close(fd);
    return nullptr;
  }
  // reads of a regular file never wait anyway; clear the flag so nothing else sees it
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    (void)FailWithErrno();
    (void)close(fd);
    return nullptr;
  }
  return StreamOf(fd, mode);
}

std::FILE* CreateNewFile(const char* path) {
  // O_EXCL with O_CREAT also refuses a symbolic link at `path`, dangling or not
  const int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    (void)FailWithErrno();
    return nullptr;
  }
  std::FILE* file = StreamOf(fd, "w+b");
  if (file == nullptr) (void)unlink(path);  // made just now, empty and ours
  return file;
}

std::FILE* CreateTempFile(const char* target, std::string* tempPath) {
  static std::uint64_t counter = 0;
  static int made = 0;
  const std::string directory = DirectoryOf(target) + "/";
  std::FILE* file = nullptr;
  {
    // made and listed as one step: an interrupt finds no file, or finds it listed
    InterruptsHeld held;
    if (liveCount == kMaxLiveTemporaries) {
      (void)Fail("too many temporary files at once");
      return nullptr;
    }
    for (int attempt = 0; file == nullptr && attempt < 100; ++attempt) {
      timespec now{};
      (void)clock_gettime(CLOCK_REALTIME, &now);
      // distinct across processes (pid), runs (time) and calls (counter)
      const std::uint64_t seed =
          (static_cast<std::uint64_t>(getpid()) << 32) ^ static_cast<std::uint64_t>(now.tv_nsec) ^
          (static_cast<std::uint64_t>(now.tv_sec) << 20) ^ (++counter * 0x9E3779B97F4A7C15u);
      const std::string path = directory + TempFileName(seed);
      if (!PathFits(path)) {
        (void)Fail("the temporary file's path would be too long");
        return nullptr;
      }
      file = CreateNewFile(path.c_str());
      if (file == nullptr && errno != EEXIST) return nullptr;
      if (file != nullptr) {
        RegisterTemporary(path);
        *tempPath = path;
      }
    }
  }
  // a test's stop point: stopped here, the run can be interrupted while this temporary exists
  const char* stopAt = std::getenv(kStopAtTemporaryVariable);
  if (file != nullptr && stopAt != nullptr && std::atoi(stopAt) == ++made) (void)raise(SIGSTOP);
  return file;
}

bool MoveReplacing(const char* from, const char* to) {
  struct stat target;
  if (lstat(to, &target) == 0 && S_ISREG(target.st_mode)) {
    // rename ignores the target's permissions: honour them, as opening it for writing would
    if (access(to, W_OK) != 0) return errno == EACCES ? Fail("the file is read-only") : FailWithErrno();
    // the new file takes the old one's permission bits and, where allowed, its owner
    const int fd = open(from, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return FailWithErrno();
    (void)fchown(fd, target.st_uid, target.st_gid);  // only root may give a file away
    const bool kept = fchmod(fd, target.st_mode & 07777) == 0;
    (void)close(fd);
    if (!kept) return FailWithErrno();
  }
  // once in place the file is no longer ours to remove; an interrupt waits until it is on disk
  InterruptsHeld held;
  if (std::rename(from, to) != 0) return FailWithErrno();
  ForgetTemporary(from);
  SyncDirectoryOf(to);
  return true;
}

bool RemoveFile(const char* path) {
  InterruptsHeld held;
  const bool removed = unlink(path) == 0 || errno == ENOENT;
  ForgetTemporary(path);  // given up either way: the caller has no more use for it
  return removed;
}

std::int64_t FileSize(std::FILE* file) {
  struct stat info;
  if (fstat(fileno(file), &info) != 0) return -1;
  return static_cast<std::int64_t>(info.st_size);
}

void ReserveFileSpace(std::FILE* file, std::int64_t size) {
  // its result goes unread: a file system that cannot reserve still takes the writes
  if (size > 0) (void)posix_fallocate(fileno(file), 0, static_cast<off_t>(size));
}

bool FlushToDisk(std::FILE* file) {
  if (std::fflush(file) != 0) return FailWithErrno();
  // EINVAL: the file is of a kind that has nothing to sync (a pipe, a character device)
  if (fsync(fileno(file)) != 0 && errno != EINVAL) return FailWithErrno();
  return true;
}

void WriteText(std::FILE* stream, const std::string& text) {
  (void)std::fwrite(text.data(), 1, text.size(), stream);
}

void HoldConsoleIfOwned() {}

}  // namespace tovrel
