// POSIX implementation of the platform layer: lexical absolute paths, stat-based tests, an opendir
// search, and file replacement by rename with a copy fallback across file systems.
#include "platform/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

namespace tovrel {

const std::size_t kMaxPath = PATH_MAX;

namespace {

// A path fits when it and its terminator take at most kMaxPath bytes.
bool Fits(const std::string& path) { return path.size() < kMaxPath; }

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
  const int fd = open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  (void)fsync(fd);
  (void)close(fd);
}

// Copies the whole of `in` into `out`. False on any short read or write.
bool CopyStream(std::FILE* in, std::FILE* out) {
  unsigned char buffer[16384];
  for (;;) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, in);
    if (got > 0 && std::fwrite(buffer, 1, got, out) != got) return false;
    if (got < sizeof buffer) break;
  }
  return !std::ferror(in) && !std::ferror(out);
}

// The rename could not cross file systems: copy `from` into a fresh file beside `to`, sync it, and
// rename that over `to` so the switch stays a single step. `to` is untouched until that rename.
bool CopyAcross(const char* from, const char* to) {
  std::string tempPath = DirectoryOf(to) + "/.tovrel-XXXXXX";
  if (!Fits(tempPath)) return false;
  std::FILE* in = std::fopen(from, "rb");
  if (in == nullptr) return false;
  struct stat fromInfo;
  if (fstat(fileno(in), &fromInfo) != 0) {
    (void)std::fclose(in);
    return false;
  }
  const int fd = mkstemp(&tempPath[0]);
  if (fd < 0) {
    (void)std::fclose(in);
    return false;
  }
  std::FILE* out = fdopen(fd, "wb");
  if (out == nullptr) {
    (void)close(fd);
    (void)std::remove(tempPath.c_str());
    (void)std::fclose(in);
    return false;
  }
  // mkstemp makes the file private; give it the source's permissions, as a rename would have
  bool ok = fchmod(fd, fromInfo.st_mode & 07777) == 0;
  ok = ok && CopyStream(in, out) && FlushToDisk(out);
  (void)std::fclose(in);  // read-only: nothing to lose on close
  ok = (std::fclose(out) == 0) && ok;
  ok = ok && std::rename(tempPath.c_str(), to) == 0;
  if (!ok) {
    (void)std::remove(tempPath.c_str());
    return false;
  }
  SyncDirectoryOf(to);
  // `to` now holds the new file; a source that cannot be removed is only a leftover, not a failure
  (void)std::remove(from);
  return true;
}

}  // namespace

bool MakeAbsolutePath(const char* path, std::string* out) {
  std::string joined;
  if (path[0] != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) return false;
    joined = cwd;
    joined += '/';
  }
  joined += path;

  // fold "." and ".." component by component; ".." at the root stays at the root
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= joined.size()) {
    std::size_t end = joined.find('/', start);
    if (end == std::string::npos) end = joined.size();
    const std::string part = joined.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string result;
  for (const std::string& part : parts) result += "/" + part;
  // a trailing separator says "directory": keep it, so "x.sav/" does not turn into the file x.sav
  const std::size_t lastSlash = joined.rfind('/');
  const std::string last = joined.substr(lastSlash + 1);
  const bool trailing = last.empty() || last == "." || last == "..";
  if (result.empty() || trailing) result += '/';
  if (!Fits(result)) return false;
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

bool SplitPath(const char* fullPath, PathParts* parts) {
  const char* slash = std::strrchr(fullPath, '/');
  if (slash == nullptr) return false;
  const char* name = slash + 1;
  const char* dot = std::strrchr(name, '.');
  if (dot == nullptr) dot = name + std::strlen(name);
  parts->directory.assign(fullPath, static_cast<std::size_t>(name - fullPath));
  parts->baseName.assign(name, static_cast<std::size_t>(dot - name));
  parts->extension.assign(dot);
  return true;
}

const char* FindExtension(const char* name) {
  const char* slash = std::strrchr(name, '/');
  const char* component = slash == nullptr ? name : slash + 1;
  const char* dot = std::strrchr(component, '.');
  return dot != nullptr ? dot : component + std::strlen(component);
}

bool ListMatchingFiles(const char* directory, const char* baseName, std::vector<FoundFile>* found) {
  found->clear();
  DIR* dir = opendir(directory);
  if (dir == nullptr) return false;
  const std::size_t baseLength = std::strlen(baseName);
  bool readFailed = false;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir);
    if (entry == nullptr) {
      readFailed = errno != 0;  // null with errno unset is the normal end
      break;
    }
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    // a literal prefix compare: '*', '?' and '[' in the base match only themselves
    if (std::strncmp(name, baseName, baseLength) != 0) continue;
    if (name[baseLength] != '\0' && name[baseLength] != '.') continue;
    const std::string fullPath = std::string(directory) + name;
    // a dangling link or an entry that vanished is not a directory; reading it will tell the rest
    found->push_back(FoundFile{name, Fits(fullPath) && IsDirectory(fullPath.c_str())});
  }
  (void)closedir(dir);
  if (readFailed || found->empty()) {
    found->clear();
    return false;
  }
  // std::string orders by unsigned byte values, the same on every platform and locale
  std::sort(found->begin(), found->end(),
            [](const FoundFile& a, const FoundFile& b) { return a.name < b.name; });
  return true;
}

bool SamePath(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

std::string PathKey(const char* path) { return path; }

bool MoveReplacing(const char* from, const char* to) {
  if (std::rename(from, to) == 0) {
    SyncDirectoryOf(to);
    return true;
  }
  if (errno != EXDEV) return false;
  return CopyAcross(from, to);
}

bool FlushToDisk(std::FILE* file) {
  if (std::fflush(file) != 0) return false;
  // EINVAL: the file is of a kind that has nothing to sync (a pipe, a character device)
  return fsync(fileno(file)) == 0 || errno == EINVAL;
}

void HoldConsoleIfOwned() {}

}  // namespace tovrel
