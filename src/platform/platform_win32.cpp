// Win32 implementation of the platform layer. Paths arrive as UTF-8 and reach the system as UTF-16
// through the wide-character functions; names the system gives back leave as UTF-8. Files are opened
// with CreateFileW and handed to the C runtime as FILE*; a replacement or removal that another program
// blocks for a moment is retried. A console control handler removes the live temporaries when Ctrl+C,
// Ctrl+Break or closing the console window ends the run. The latest failure's reason is kept in this
// file for LastFailure. <windows.h> stays inside this file.
#include "platform/platform.h"
#include "platform/platform_internal.h"
#include "platform/platform_test_helper.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>

// msvcrt's own split of the UTF-16 command line, the one its narrow argv comes from. MinGW declares
// it only in a private header; the last argument points to the runtime's one-int startup record.
extern "C" int __cdecl __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env, int expandWildcards,
                                      int* startupInfo);

namespace tovrel {

const std::size_t kMaxPath = MAX_PATH;
const char kPathSeparators[] = "\\/:";

namespace {

// The `length` UTF-16 units at `wide` as UTF-8. A lone surrogate, which names may hold but Unicode
// cannot spell, becomes '?': no Windows name holds a '?', so such a name fails where it is used
// instead of naming some other file.
std::string ToUtf8(const wchar_t* wide, std::size_t length) {
  if (length == 0 || length > INT_MAX / 4) return std::string();
  std::wstring clean(wide, length);
  for (std::size_t i = 0; i < clean.size(); ++i) {
    const bool high = clean[i] >= 0xD800 && clean[i] <= 0xDBFF;
    if (high && i + 1 < clean.size() && clean[i + 1] >= 0xDC00 && clean[i + 1] <= 0xDFFF) {
      ++i;  // a whole pair
    } else if (clean[i] >= 0xD800 && clean[i] <= 0xDFFF) {
      clean[i] = L'?';
    }
  }
  const int count = static_cast<int>(clean.size());
  const int size = WideCharToMultiByte(CP_UTF8, 0, clean.data(), count, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string text(static_cast<std::size_t>(size), '\0');
  if (WideCharToMultiByte(CP_UTF8, 0, clean.data(), count, &text[0], size, nullptr, nullptr) != size) {
    return std::string();
  }
  return text;
}

// Makes the system's own words for the error `code` the latest failure.
void RecordSystemFailure(DWORD code) {
  wchar_t buffer[512];
  // MAX_WIDTH_MASK joins the message's lines; the trailing space and full stop go
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK, nullptr,
      code, 0, buffer, sizeof buffer / sizeof buffer[0], nullptr);
  std::size_t end = length;
  while (end > 0 && std::wcschr(L" .\r\n", buffer[end - 1]) != nullptr) --end;
  const std::string text = ToUtf8(buffer, end);
  RecordFailure(text.empty() ? "system error " + std::to_string(code) : text);
}

// The UTF-8 `text` as UTF-16. With `flags` MB_ERR_INVALID_CHARS, false when it is not valid UTF-8
// (an archive's entry names can be any bytes); with 0 each bad byte becomes U+FFFD.
bool ToWide(const std::string& text, std::wstring* wide, DWORD flags) {
  wide->clear();
  if (text.empty()) return true;
  if (text.size() > INT_MAX) return false;
  const int length = static_cast<int>(text.size());
  const int count = MultiByteToWideChar(CP_UTF8, flags, text.data(), length, nullptr, 0);
  if (count <= 0) return false;
  wide->resize(static_cast<std::size_t>(count));
  return MultiByteToWideChar(CP_UTF8, flags, text.data(), length, &(*wide)[0], count) == count;
}

// `path` as the system's UTF-16 name. False, with the reason recorded, when it is not valid UTF-8.
bool WidePath(const char* path, std::wstring* wide) {
  if (ToWide(path, wide, MB_ERR_INVALID_CHARS)) return true;
  RecordFailure("the name is not valid UTF-8");
  return false;
}

// Closes a search handle on every way out of the search loop.
class FindHandle {
 public:
  FindHandle(const wchar_t* pattern, WIN32_FIND_DATAW* data) : handle_(FindFirstFileW(pattern, data)) {}
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

// The system handle under `stream`, or INVALID_HANDLE_VALUE.
HANDLE HandleOf(std::FILE* stream) {
  const intptr_t handle = _get_osfhandle(_fileno(stream));
  // -2: a standard stream with nothing behind it (a program started without a console)
  return handle == -1 || handle == -2 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(handle);
}

// True when `handle` is a console (not a file, pipe or NUL).
bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_CHAR &&
         GetConsoleMode(handle, &mode) != 0;
}

// Hands the open `handle` to the C runtime as a stream in `mode`. On failure the handle is closed.
std::FILE* StreamOver(HANDLE handle, int flags, const char* mode) {
  errno = 0;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
  if (fd == -1) {
    RecordErrno("the C runtime cannot take the file");
    (void)CloseHandle(handle);
    return nullptr;
  }
  errno = 0;
  std::FILE* stream = _fdopen(fd, mode);
  if (stream == nullptr) {
    RecordErrno("the C runtime cannot take the file");
    (void)_close(fd);  // closes the handle with it
  }
  return stream;
}

// True when `handle` is a file on a disk, not a device, pipe or directory. Records the reason when
// it is not.
bool IsRegularFile(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    RecordFailure("it is not a regular file");
    return false;
  }
  if (GetFileInformationByHandle(handle, &info) == 0) {
    RecordSystemFailure(GetLastError());
    return false;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    RecordFailure("it is a directory");
    return false;
  }
  return true;
}

// CreateNewFile, with the system's error code in `*error` on failure (ERROR_SUCCESS when the failure
// came from elsewhere). With `deletable` the file may be deleted while open: it goes once closed.
std::FILE* CreateExclusive(const char* path, bool deletable, DWORD* error) {
  *error = ERROR_SUCCESS;
  std::wstring wide;
  if (!WidePath(path, &wide)) return nullptr;
  // CREATE_NEW fails on any existing name, a dangling link included, so nothing is ever truncated
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | (deletable ? FILE_SHARE_DELETE : 0);
  const HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    RecordSystemFailure(*error);
    return nullptr;
  }
  // a device name (NUL, COM1) may open the device itself, which is no file and not ours to remove
  if (!IsRegularFile(handle)) {
    (void)CloseHandle(handle);
    return nullptr;
  }
  std::FILE* stream = StreamOver(handle, 0, "w+b");
  if (stream == nullptr) (void)DeleteFileW(wide.c_str());  // made just now, empty and ours
  return stream;
}

// True for the failures another program causes while it holds a file: they pass once it lets go.
bool IsTransient(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

// Runs `attempt` until it succeeds, retrying after the pauses RetryPause gives while it fails for a
// transient reason. Returns the last failure's code, or ERROR_SUCCESS. `attempt` returns the system's
// error code, ERROR_SUCCESS when it succeeded.
template <typename Attempt>
DWORD RetryWhileHeld(Attempt attempt) {
  for (int retry = 1;; ++retry) {
    const DWORD error = attempt();
    if (error == ERROR_SUCCESS) return error;
    const int pause = RetryPause(IsTransient(error), retry);
    if (pause < 0) return error;
    Sleep(static_cast<DWORD>(pause));
  }
}

// The temporaries made and not yet put in place or removed, as UTF-16 paths. The control handler runs
// on a thread of its own while the main thread goes on, so the list, and each step that makes, moves
// or removes a temporary, is guarded by the lock; the handler takes it for good.
struct LiveTemporary {
  bool live;
  wchar_t path[MAX_PATH];
};
SRWLOCK liveLock = SRWLOCK_INIT;
LiveTemporary liveTemporaries[kMaxLiveTemporaries];
std::size_t liveCount = 0;

// Holds the lock of the live temporaries for its lifetime.
class LiveListHeld {
 public:
  LiveListHeld() { AcquireSRWLockExclusive(&liveLock); }
  ~LiveListHeld() { ReleaseSRWLockExclusive(&liveLock); }
  LiveListHeld(const LiveListHeld&) = delete;
  LiveListHeld& operator=(const LiveListHeld&) = delete;
};

// Lists the path `path`, which the system has just accepted. Requires: the lock held, a free slot,
// and PathFits(path), so its UTF-16 form and terminator fit the slot.
void RegisterTemporary(const std::string& path) {
  std::wstring wide;
  (void)ToWide(path, &wide, MB_ERR_INVALID_CHARS);
  for (LiveTemporary& temporary : liveTemporaries) {
    if (temporary.live) continue;
    std::wmemcpy(temporary.path, wide.c_str(), wide.size() + 1);
    temporary.live = true;
    ++liveCount;
    return;
  }
}

// Strikes `path` off the list. Requires: the lock held.
void ForgetTemporary(const std::wstring& path) {
  for (LiveTemporary& temporary : liveTemporaries) {
    if (!temporary.live || path != temporary.path) continue;
    temporary.live = false;
    --liveCount;
    return;
  }
}

// The console control handler: for Ctrl+C, Ctrl+Break and a closed console window, deletes every live
// temporary and ends the process at once (TerminateProcess runs no exit code of the runtime, which
// could wait for a lock the stopped main thread holds); a file still open goes with its handle. With
// none live it leaves the event to the system's default, which ends the run as it always did.
BOOL WINAPI RemoveLiveTemporaries(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  // never released: from here on the main thread can neither make nor move a temporary
  AcquireSRWLockExclusive(&liveLock);
  if (liveCount == 0) return FALSE;
  for (const LiveTemporary& temporary : liveTemporaries) {
    if (temporary.live) (void)DeleteFileW(temporary.path);
  }
  (void)TerminateProcess(GetCurrentProcess(), static_cast<UINT>(STATUS_CONTROL_C_EXIT));
  return TRUE;
}

// True when the console window exists and shows. IsWindowVisible lives in user32.dll, which is loaded
// only for this question, so the exe imports nothing beyond KERNEL32 and msvcrt.
bool ConsoleWindowIsVisible() {
  const HWND window = GetConsoleWindow();
  if (window == nullptr) return false;
  const HMODULE user32 = LoadLibraryW(L"user32.dll");
  if (user32 == nullptr) return false;
  using IsWindowVisibleFunction = BOOL(WINAPI*)(HWND);
  // through the generic function pointer type, which may be cast to any other
  const auto isWindowVisible = reinterpret_cast<IsWindowVisibleFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(user32, "IsWindowVisible")));
  const bool visible = isWindowVisible != nullptr && isWindowVisible(window) != 0;
  (void)FreeLibrary(user32);
  return visible;
}

}  // namespace

bool PathFits(const std::string& path) {
  // a UTF-16 name never has more units than its UTF-8 has bytes
  if (path.size() < kMaxPath) return true;
  if (path.size() > INT_MAX) return false;
  // without MB_ERR_INVALID_CHARS a stray byte counts as the one unit of U+FFFD
  const int units = MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  return units > 0 && static_cast<std::size_t>(units) < kMaxPath;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = nullptr;
  wchar_t** environment = nullptr;
  int newMode = 0;  // the runtime's default for a failed malloc, as at startup
  std::vector<std::string> arguments;
  if (__wgetmainargs(&count, &wide, &environment, 0, &newMode) >= 0 && wide != nullptr && count == argc) {
    for (int i = 0; i < count; ++i) arguments.push_back(ToUtf8(wide[i], std::wcslen(wide[i])));
    return arguments;
  }
  // the runtime could not split the line again: the ANSI argv is all there is
  for (int i = 0; i < argc; ++i) arguments.push_back(argv[i]);
  return arguments;
}

std::vector<std::string> ExpandWildcards(const std::string& arg) {
  const std::string folder(arg.c_str(), static_cast<std::size_t>(FinalComponent(arg.c_str()) - arg.c_str()));
  std::string fullPath;
  std::wstring pattern;
  if (arg.find_first_of("*?") == std::string::npos || folder.find_first_of("*?") != std::string::npos ||
      (MakeAbsolutePath(arg.c_str(), &fullPath) && PathExists(fullPath.c_str())) ||
      !WidePath(arg.c_str(), &pattern)) {
    return {arg};
  }
  std::vector<std::string> names;
  WIN32_FIND_DATAW data;
  FindHandle search(pattern.c_str(), &data);
  for (bool more = search.IsValid(); more; more = FindNextFileW(search.Get(), &data) != 0) {
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      names.push_back(ToUtf8(data.cFileName, wcsnlen(data.cFileName, MAX_PATH)));
    }
  }
  if (names.empty()) return {arg};
  std::sort(names.begin(), names.end());  // by unsigned byte values, as every listing of ours
  for (std::string& name : names) name = folder + name;
  return names;
}

bool MakeAbsolutePath(const char* path, std::string* out) {
  std::wstring wide;
  if (!WidePath(path, &wide)) return false;
  // an empty path names the current directory, as it does in the POSIX build
  if (wide.empty()) wide = L".\\";
  wchar_t buffer[MAX_PATH];
  // the system's own folding: ".", "..", '/' as '\', trailing dots and spaces dropped. A result that
  // does not fit comes back as the size it needs, MAX_PATH or more
  const DWORD length = GetFullPathNameW(wide.c_str(), MAX_PATH, buffer, nullptr);
  if (length == 0) {
    RecordSystemFailure(GetLastError());
    return false;
  }
  if (length >= MAX_PATH) {
    RecordFailure("the path is too long");
    return false;
  }
  *out = ToUtf8(buffer, length);
  return !out->empty();
}

bool PathExists(const char* path) {
  std::wstring wide;
  return WidePath(path, &wide) && GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const char* path) {
  std::wstring wide;
  if (!WidePath(path, &wide)) return false;
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool ReadMatchingEntries(const char* directory, const char* baseName, std::vector<FoundFile>* entries) {
  const std::string pattern = std::string(directory) + baseName + ".*";
  if (!PathFits(pattern)) {
    RecordFailure("the path is too long");
    return false;
  }
  std::wstring widePattern;
  std::wstring wideBase;
  if (!WidePath(pattern.c_str(), &widePattern) || !WidePath(baseName, &wideBase)) return false;
  WIN32_FIND_DATAW data;
  FindHandle search(widePattern.c_str(), &data);
  if (!search.IsValid()) {
    RecordSystemFailure(GetLastError());
    return false;
  }
  const std::size_t baseLength = wideBase.size();
  for (;;) {
    const wchar_t* name = data.cFileName;
    const std::size_t nameLength = wcsnlen(name, sizeof data.cFileName / sizeof data.cFileName[0]);
    // the pattern also matches by 8.3 short name, and '*', '?', '<', '>' and '"' in the base are
    // wildcards to it: keep only long names that start with the base itself, in any letter case
    const bool isDot = std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0;
    if (!isDot && nameLength >= baseLength && (name[baseLength] == L'\0' || name[baseLength] == L'.') &&
        (baseLength == 0 || CompareStringOrdinal(name, static_cast<int>(baseLength), wideBase.c_str(),
                                                 static_cast<int>(baseLength), TRUE) == CSTR_EQUAL)) {
      const bool isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      entries->push_back(FoundFile{ToUtf8(name, nameLength), isDirectory});
    }
    if (FindNextFileW(search.Get(), &data) == 0) {
      // any end but the normal one would leave a member out unnoticed
      const DWORD error = GetLastError();
      if (error == ERROR_NO_MORE_FILES) return true;
      RecordSystemFailure(error);
      return false;
    }
  }
}

bool SamePath(const char* a, const char* b) {
  // Windows drops trailing dots and spaces from a name and reads '/' as '\': "x.ssav." opens x.ssav.
  // GetFullPathNameW applies the same rules, so compare what each path really names
  std::string fullA;
  std::string fullB;
  if (!MakeAbsolutePath(a, &fullA)) fullA = a;
  if (!MakeAbsolutePath(b, &fullB)) fullB = b;
  std::wstring wideA;
  std::wstring wideB;
  if (!ToWide(fullA, &wideA, MB_ERR_INVALID_CHARS) || !ToWide(fullB, &wideB, MB_ERR_INVALID_CHARS)) {
    return fullA == fullB;  // bytes that are no text compare only to themselves
  }
  // ordinal: letter by letter as the file system folds case, with no linguistic equivalences
  return CompareStringOrdinal(wideA.c_str(), -1, wideB.c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::FILE* OpenFile(const char* path, const char* mode) {
  const bool writable = std::strcmp(mode, "r+b") == 0;
  if (!writable && std::strcmp(mode, "rb") != 0) {
    RecordFailure(std::string("unsupported open mode ") + mode);
    return nullptr;
  }
  std::wstring wide;
  if (!WidePath(path, &wide)) return nullptr;
  // others may go on reading and writing it; OPEN_EXISTING never creates anything
  const HANDLE handle =
      CreateFileW(wide.c_str(), writable ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    // a directory is refused as "access denied", which would point the user the wrong way
    if (IsDirectory(path)) {
      RecordFailure("it is a directory");
    } else {
      RecordSystemFailure(error);
    }
    return nullptr;
  }
  if (!IsRegularFile(handle)) {
    (void)CloseHandle(handle);
    return nullptr;
  }
  return StreamOver(handle, writable ? 0 : _O_RDONLY, mode);
}

std::FILE* CreateNewFile(const char* path) {
  DWORD error;
  return CreateExclusive(path, /*deletable=*/false, &error);
}

namespace {

// CreateTempFile's search for a free name, listing the file it makes. Requires: the lock held.
std::FILE* MakeTempFile(const char* target, std::string* tempPath) {
  if (liveCount == kMaxLiveTemporaries) {
    RecordFailure("too many temporary files at once");
    return nullptr;
  }
  const std::string directory(target, static_cast<std::size_t>(FinalComponent(target) - target));
  // seeds differ between processes (the id) and between calls (the counter's ticks); a name taken
  // all the same only moves the search on to the next one
  LARGE_INTEGER ticks;
  if (QueryPerformanceCounter(&ticks) == 0) ticks.QuadPart = static_cast<LONGLONG>(GetTickCount64());
  std::uint64_t state =
      (static_cast<std::uint64_t>(GetCurrentProcessId()) << 40) ^ static_cast<std::uint64_t>(ticks.QuadPart);
  constexpr int kAttempts = 40;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    state += 0x9E3779B97F4A7C15u;
    const std::string path = directory + TempFileName(state);
    if (!PathFits(path)) {
      RecordFailure("the path of a temporary file beside it would be too long");
      return nullptr;
    }
    DWORD error;
    std::FILE* file = CreateExclusive(path.c_str(), /*deletable=*/true, &error);
    if (file != nullptr) {
      RegisterTemporary(path);
      *tempPath = path;
      return file;
    }
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return nullptr;
  }
  return nullptr;  // the reason recorded is the last "file exists"
}

}  // namespace

std::FILE* CreateTempFile(const char* target, std::string* tempPath) {
  // installed once, before the first temporary, and left: removing it could wait for the system's
  // console lock while a handler holding that lock waits for ours. With nothing live it steps aside
  static const bool handlerSet = SetConsoleCtrlHandler(RemoveLiveTemporaries, TRUE) != 0;
  (void)handlerSet;
  std::FILE* file = nullptr;
  {
    // made and listed as one step: the handler finds no file, or finds it listed
    LiveListHeld held;
    file = MakeTempFile(target, tempPath);
  }
  // a test's stop point: waiting here, the run can be interrupted while this temporary exists
  static int made = 0;
  const char* stopAt = std::getenv(kStopAtTemporaryVariable);
  if (file != nullptr && stopAt != nullptr && std::atoi(stopAt) == ++made) {
    for (;;) Sleep(INFINITE);
  }
  return file;
}

bool MoveReplacing(const char* from, const char* to) {
  std::wstring wideFrom;
  std::wstring wideTo;
  if (!WidePath(from, &wideFrom) || !WidePath(to, &wideTo)) return false;
  const DWORD attributes = GetFileAttributesW(wideTo.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    // the system would refuse these as "access denied" only after every retry
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      RecordFailure("the file is read-only");
      return false;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      RecordFailure("it is a directory");
      return false;
    }
    // the new file keeps the old one's hidden and system marks, as it keeps its folder's permissions
    const DWORD kept = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    if (kept != 0) (void)SetFileAttributesW(wideFrom.c_str(), kept);
  }
  const DWORD error = RetryWhileHeld([&]() -> DWORD {
    // the rename and the end of the temporary's life are one step to the control handler
    LiveListHeld held;
    if (MoveFileExW(wideFrom.c_str(), wideTo.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
        0) {
      ForgetTemporary(wideFrom);
      return ERROR_SUCCESS;
    }
    return GetLastError();
  });
  if (error != ERROR_SUCCESS) RecordSystemFailure(error);
  return error == ERROR_SUCCESS;
}

bool RemoveFile(const char* path) {
  // a removal tidies up after another failure: that one's reason stays the one recorded
  std::wstring wide;
  if (!ToWide(path, &wide, MB_ERR_INVALID_CHARS)) return false;
  const bool removed =
      RetryWhileHeld([&]() -> DWORD {
        LiveListHeld held;
        if (DeleteFileW(wide.c_str()) != 0) return ERROR_SUCCESS;
        const DWORD error = GetLastError();
        // a file already gone counts as removed
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS : error;
      }) == ERROR_SUCCESS;
  LiveListHeld held;
  ForgetTemporary(wide);  // given up either way: the caller has no more use for it
  return removed;
}

std::int64_t FileSize(std::FILE* file) {
  const HANDLE handle = HandleOf(file);
  if (handle == INVALID_HANDLE_VALUE) {
    RecordFailure("the file has no system handle");
    return -1;
  }
  // 64 bits wide: ftell's long is 32 bits here and would wrap past 2 GiB
  LARGE_INTEGER size;
  if (GetFileSizeEx(handle, &size) == 0) {
    RecordSystemFailure(GetLastError());
    return -1;
  }
  return size.QuadPart;
}

// NTFS and FAT already grow a file written front to back in large runs; there is nothing to gain.
void ReserveFileSpace(std::FILE*, std::int64_t) {}

bool FlushToDisk(std::FILE* file) {
  if (std::fflush(file) != 0) {
    RecordErrno("a write failed");
    return false;
  }
  const HANDLE handle = HandleOf(file);
  if (handle == INVALID_HANDLE_VALUE) {
    RecordFailure("the file has no system handle");
    return false;
  }
  // a console or a pipe has no disk behind it (and flushing a pipe would wait for its reader)
  const DWORD type = GetFileType(handle);
  if (type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) return true;
  if (FlushFileBuffers(handle) != 0) return true;
  RecordSystemFailure(GetLastError());
  return false;
}

void WriteText(std::FILE* stream, const std::string& text) {
  const HANDLE handle = HandleOf(stream);
  std::wstring wide;
  if (!IsConsole(handle) || std::fflush(stream) != 0 || !ToWide(text, &wide, 0)) {
    (void)std::fwrite(text.data(), 1, text.size(), stream);  // the stream keeps any error for its owner
    return;
  }
  // in pieces a console takes at once, never splitting a surrogate pair
  constexpr std::size_t kPiece = 8192;
  std::size_t done = 0;
  while (done < wide.size()) {
    std::size_t piece = std::min(kPiece, wide.size() - done);
    if (done + piece < wide.size() && wide[done + piece - 1] >= 0xD800 && wide[done + piece - 1] <= 0xDBFF)
      --piece;
    DWORD written = 0;
    if (WriteConsoleW(handle, wide.data() + done, static_cast<DWORD>(piece), &written, nullptr) == 0 ||
        written == 0) {
      // the console refused: what is left goes out through the stream, which records any error
      const std::string rest = ToUtf8(wide.data() + done, wide.size() - done);
      (void)std::fwrite(rest.data(), 1, rest.size(), stream);
      return;
    }
    done += std::min<std::size_t>(written, piece);
  }
}

void HoldConsoleIfOwned() {
  ConsoleState console{};
  DWORD processes[2];
  console.processCount = GetConsoleProcessList(processes, 2);
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  console.stdinIsConsole = IsConsole(input);
  console.stdoutIsConsole = IsConsole(output);
  STARTUPINFOW startup;
  GetStartupInfoW(&startup);
  console.startedHidden = (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 && startup.wShowWindow == SW_HIDE;
  // ask about the window only when nothing else rules the hold out, so a run from a shell, a script
  // or a hidden launcher never loads user32.dll
  console.windowVisible = true;
  if (ShouldHoldConsole(console)) console.windowVisible = ConsoleWindowIsVisible();
  if (!ShouldHoldConsole(console)) return;
  // the prompt goes to the console itself, not to stdout: it is no part of the tool's output
  static const wchar_t kPrompt[] = L"\nPress Enter to exit...";
  DWORD written = 0;
  (void)WriteConsoleW(output, kPrompt, sizeof kPrompt / sizeof kPrompt[0] - 1, &written, nullptr);
  (void)FlushConsoleInputBuffer(input);
  wchar_t line[64];
  DWORD got = 0;
  // ReadConsoleW in line mode returns once Enter is pressed; a longer line is read in pieces
  while (ReadConsoleW(input, line, sizeof line / sizeof line[0], &got, nullptr) != 0 && got > 0) {
    if (std::wmemchr(line, L'\n', got) != nullptr || std::wmemchr(line, L'\r', got) != nullptr) break;
  }
}

}  // namespace tovrel
