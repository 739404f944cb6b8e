// Win32 implementation of the platform layer: the runtime's _fullpath, _access and _splitpath_s, a
// FindFirstFileA search filtered to the literal base name, case-insensitive names as the file system
// compares them, and file replacement by MoveFileExA. <windows.h> stays inside this file.
#include "platform/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <io.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace tovrel {

const std::size_t kMaxPath = MAX_PATH;

namespace {

// A path fits when it and its terminator take at most kMaxPath bytes.
bool Fits(const std::string& path) { return path.size() < kMaxPath; }

// Closes a search handle on every way out of the search loop.
class FindHandle {
 public:
  FindHandle(const char* pattern, WIN32_FIND_DATAA* data) : handle_(FindFirstFileA(pattern, data)) {}
  ~FindHandle() {
    if (IsValid()) (void)FindClose(handle_);
  }
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;

  bool IsValid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_;
};

// The `length` bytes at `text` in the ANSI code page, as UTF-16. False when they do not convert.
bool ToWide(const char* text, std::size_t length, std::wstring* wide) {
  wide->clear();
  if (length == 0) return true;
  if (length > kMaxPath) return false;
  const int count = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, static_cast<int>(length), nullptr, 0);
  if (count <= 0) return false;
  wide->resize(static_cast<std::size_t>(count));
  return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, static_cast<int>(length), &(*wide)[0], count) ==
         count;
}

// True when the two byte runs are one name to the file system: equal after the system's own
// upper-casing, character by character, with no linguistic folding (lstrcmpiA would call some
// different names equal).
bool SameNameIgnoringCase(const char* a, std::size_t aLength, const char* b, std::size_t bLength) {
  std::wstring wideA;
  std::wstring wideB;
  if (!ToWide(a, aLength, &wideA) || !ToWide(b, bLength, &wideB)) {
    // bytes that are no text in this code page compare only to themselves
    return aLength == bLength && std::memcmp(a, b, aLength) == 0;
  }
  if (wideA.empty() || wideB.empty()) return wideA.empty() && wideB.empty();
  return CompareStringOrdinal(wideA.c_str(), static_cast<int>(wideA.size()), wideB.c_str(),
                              static_cast<int>(wideB.size()), TRUE) == CSTR_EQUAL;
}

// Flushes the file at `path` to disk. False when it cannot be opened or flushed.
bool FlushPathToDisk(const char* path) {
  const HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool flushed = FlushFileBuffers(file) != 0;
  return (CloseHandle(file) != 0) && flushed;
}

// The directory part of `path` with its last separator, "." when it has none.
std::string DirectoryOf(const char* path) {
  const char* end = nullptr;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '\\' || *p == '/' || *p == ':') end = p + 1;
  }
  return end == nullptr ? std::string(".") : std::string(path, static_cast<std::size_t>(end - path));
}

// The rename could not cross volumes. MOVEFILE_COPY_ALLOWED would copy straight over `to` and lose the
// old file if the copy broke off, so the copy goes to a fresh name beside `to`, is flushed, and only
// then renamed over `to` in one step.
bool CopyAcross(const char* from, const char* to) {
  // GetTempFileNameA needs room for its 14-byte name; it creates the file, so the name is ours
  const std::string directory = DirectoryOf(to);
  if (directory.size() + 14 >= kMaxPath) return false;
  char tempPath[MAX_PATH];
  if (GetTempFileNameA(directory.c_str(), "tvr", 0, tempPath) == 0) return false;
  const bool ok = CopyFileA(from, tempPath, FALSE) != 0 && FlushPathToDisk(tempPath) &&
                  MoveFileExA(tempPath, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  if (!ok) {
    (void)DeleteFileA(tempPath);
    return false;
  }
  // `to` now holds the new file; a source that cannot be removed is only a leftover, not a failure
  (void)DeleteFileA(from);
  return true;
}

// True when `handle` is a console (not a file, pipe or NUL).
bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_CHAR &&
         GetConsoleMode(handle, &mode) != 0;
}

}  // namespace

bool MakeAbsolutePath(const char* path, std::string* out) {
  char buffer[MAX_PATH];
  // _fullpath folds "." and ".." lexically and fails rather than truncate a result past the buffer
  if (_fullpath(buffer, path, sizeof buffer) == nullptr) return false;
  const std::size_t length = strnlen(buffer, sizeof buffer);
  if (length >= sizeof buffer) return false;
  out->assign(buffer, length);
  return true;
}

bool PathExists(const char* path) { return _access(path, 0) == 0; }

bool IsDirectory(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool SplitPath(const char* fullPath, PathParts* parts) {
  if (strnlen(fullPath, kMaxPath) >= kMaxPath) return false;
  // each part of a path shorter than MAX_PATH fits a MAX_PATH buffer; _splitpath_s checks it anyway
  char drive[MAX_PATH];
  char dir[MAX_PATH];
  char base[MAX_PATH];
  char extension[MAX_PATH];
  if (_splitpath_s(fullPath, drive, sizeof drive, dir, sizeof dir, base, sizeof base, extension,
                   sizeof extension) != 0) {
    return false;
  }
  if (drive[0] == '\0' && dir[0] == '\0') return false;
  parts->directory = std::string(drive) + dir;
  parts->baseName = base;
  parts->extension = extension;
  return true;
}

const char* FindExtension(const char* name) {
  // the final component starts after the last separator of either kind or a drive's colon. Unlike
  // PathFindExtensionA a space after the dot keeps the extension, so a save packs the same members
  // here as on POSIX
  const char* component = name;
  for (const char* p = name; *p != '\0'; ++p) {
    if (*p == '\\' || *p == '/' || *p == ':') component = p + 1;
  }
  const char* dot = std::strrchr(component, '.');
  return dot != nullptr ? dot : component + std::strlen(component);
}

bool ListMatchingFiles(const char* directory, const char* baseName, std::vector<FoundFile>* found) {
  found->clear();
  const std::string pattern = std::string(directory) + baseName + ".*";
  if (!Fits(pattern)) return false;
  WIN32_FIND_DATAA data;
  FindHandle search(pattern.c_str(), &data);
  if (!search.IsValid()) return false;
  const std::size_t baseLength = std::strlen(baseName);
  bool searchFailed = false;
  for (;;) {
    const char* name = data.cFileName;
    const std::size_t nameLength = strnlen(name, sizeof data.cFileName);
    // the pattern also matches by 8.3 short name, and '*', '?', '<', '>' and '"' in the base are
    // wildcards to it: keep only long names that start with the base itself
    const bool isDot = std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
    if (!isDot && nameLength >= baseLength && (name[baseLength] == '\0' || name[baseLength] == '.') &&
        SameNameIgnoringCase(name, baseLength, baseName, baseLength)) {
      found->push_back(FoundFile{std::string(name, nameLength), (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    }
    if (FindNextFileA(search.Get(), &data) == 0) {
      // any end but the normal one would leave a member out unnoticed
      searchFailed = GetLastError() != ERROR_NO_MORE_FILES;
      break;
    }
  }
  if (searchFailed || found->empty()) {
    found->clear();
    return false;
  }
  // std::string orders by unsigned byte values, the same on every platform and locale
  std::sort(found->begin(), found->end(), [](const FoundFile& a, const FoundFile& b) { return a.name < b.name; });
  return true;
}

bool SamePath(const char* a, const char* b) {
  // Windows drops trailing dots and spaces from a name and reads '/' as '\': "x.ssav." opens x.ssav.
  // _fullpath applies the same rules, so compare what each path really names
  std::string fullA;
  std::string fullB;
  if (!MakeAbsolutePath(a, &fullA)) fullA = a;
  if (!MakeAbsolutePath(b, &fullB)) fullB = b;
  return SameNameIgnoringCase(fullA.c_str(), fullA.size(), fullB.c_str(), fullB.size());
}

std::string PathKey(const char* path) {
  // what SamePath compares: the absolute form, in upper case
  std::string full;
  if (!MakeAbsolutePath(path, &full)) full = path;
  std::wstring wide;
  if (!ToWide(full.c_str(), full.size(), &wide) || wide.empty()) return full;
  (void)CharUpperBuffW(&wide[0], static_cast<DWORD>(wide.size()));
  return std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
}

bool MoveReplacing(const char* from, const char* to) {
  if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) return true;
  if (GetLastError() != ERROR_NOT_SAME_DEVICE) return false;
  return CopyAcross(from, to);
}

bool FlushToDisk(std::FILE* file) {
  if (std::fflush(file) != 0) return false;
  const intptr_t osHandle = _get_osfhandle(_fileno(file));
  if (osHandle == -1) return false;
  const HANDLE handle = reinterpret_cast<HANDLE>(osHandle);
  // a console or a pipe has no disk behind it (and flushing a pipe would wait for its reader)
  const DWORD type = GetFileType(handle);
  if (type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) return true;
  return FlushFileBuffers(handle) != 0;
}

void HoldConsoleIfOwned() {
  DWORD processes[2];
  const DWORD count = GetConsoleProcessList(processes, 2);
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (!ShouldHoldConsole(count, IsConsole(input), IsConsole(output))) return;
  // the prompt goes to the console itself, not to stdout: it is no part of the tool's output
  static const char kPrompt[] = "\nPress Enter to exit...";
  DWORD written = 0;
  (void)WriteConsoleA(output, kPrompt, sizeof kPrompt - 1, &written, nullptr);
  (void)FlushConsoleInputBuffer(input);
  char line[64];
  DWORD got = 0;
  // ReadConsoleA in line mode returns once Enter is pressed; a longer line is read in pieces
  while (ReadConsoleA(input, line, sizeof line, &got, nullptr) != 0 && got > 0) {
    if (std::memchr(line, '\n', got) != nullptr || std::memchr(line, '\r', got) != nullptr) break;
  }
}

}  // namespace tovrel
