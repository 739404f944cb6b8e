// The few operating-system services the tool needs: the command line, absolute paths, existence tests,
// the search for a save's files, opening and creating files, the safe replacement of one file by
// another (with the removal of its temporaries when the run is interrupted), and console text. One
// implementation per OS (platform_posix.cpp, platform_win32.cpp); the build picks one. Nothing here
// prints, except WriteText.
// Paths are byte strings: UTF-8 on Windows (converted to UTF-16 at every system call), the bytes as
// they are on POSIX. Every function that composes a path refuses one that would not fit the platform's
// limit instead of truncating it.
#ifndef TOVREL_PLATFORM_PLATFORM_H_
#define TOVREL_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tovrel {

// The longest path, terminator included: MAX_PATH (260) UTF-16 units on Windows, PATH_MAX bytes on
// POSIX.
extern const std::size_t kMaxPath;

// True when `path` and its terminator fit in kMaxPath, counted as the system counts (UTF-16 units on
// Windows, bytes on POSIX).
bool PathFits(const std::string& path);

// The program's arguments, argv[0] included: on Windows read from the UTF-16 command line and given as
// UTF-8 (argv would hold only what the ANSI code page can spell); on POSIX argv as it is.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// The files the command-line argument `arg` stands for. On Windows, whose shells leave wildcards to the
// program, an `arg` holding '*' or '?' that names no existing file itself is a pattern: it stands for
// the files (not directories) it matches in its folder, in byte order of their names, each with the
// folder part as given; a pattern that matches nothing, or has a wildcard in its folder part, stands
// for itself. On POSIX, whose shells expand, `arg` always stands for itself.
std::vector<std::string> ExpandWildcards(const std::string& arg);

// Stores in `*out` the absolute form of `path`, joined to the current directory when relative. On
// POSIX only "." components and repeated separators are folded: ".." is left for the kernel, which
// resolves it after any symbolic link before it. Windows folds as the system does (GetFullPathNameW).
// The path need not exist. Returns false, leaving `*out` unspecified, when the current directory
// cannot be read or the result would not fit.
bool MakeAbsolutePath(const char* path, std::string* out);

// True when something (file or directory) exists at `path`.
bool PathExists(const char* path);

// True when `path` names an existing directory.
bool IsDirectory(const char* path);

// A full path cut into the directory (drive included, ending in its separator) and the base name (the
// final component up to its last '.', or all of it).
struct PathParts {
  std::string directory;
  std::string baseName;
};

// Splits the absolute path `fullPath` into `*parts`. Returns false when it has no directory part.
bool SplitPath(const char* fullPath, PathParts* parts);

// Returns a pointer to the last '.' of the final component of `name`, or to its terminator when that
// component has none.
const char* FindExtension(const char* name);

// One directory entry found by ListMatchingFiles.
struct FoundFile {
  std::string name;  // without directory
  bool isDirectory;
};

// Fills `*found` with every entry of `directory` (which ends in its separator) whose name is `baseName`
// or begins with `baseName` followed by '.': what the pattern <directory><baseName>.* finds. The base
// is matched literally (wildcard characters match only themselves), with the letter-case rules of the
// platform's file system, and the names come back sorted byte by byte. The temporary files of any run
// of this tool (CreateTempFile) are never listed. Returns false, with `*found` empty, when the
// directory cannot be searched or nothing matches.
bool ListMatchingFiles(const char* directory, const char* baseName, std::vector<FoundFile>* found);

// True when `a` and `b` name the same path as the platform compares names (on Windows: in any letter
// case, and with the trailing dots and spaces Windows drops from a name ignored). Both are absolute
// paths built by the same rules.
bool SamePath(const char* a, const char* b);

// Opens the existing regular file at `path`, mode "rb" (reading) or "r+b" (reading and writing).
// Never blocks and never opens anything else: a FIFO, socket, device or directory is refused. Returns
// null on failure, with the reason left for LastFailure.
std::FILE* OpenFile(const char* path, const char* mode);

// Creates the file `path`, which must not exist yet, and opens it for reading and writing ("w+b").
// Exclusive: a name that exists, even as a dangling link, is never opened, truncated or written
// through. Null on failure, with the reason left for LastFailure.
std::FILE* CreateNewFile(const char* path);

// The most temporaries (CreateTempFile) that may be live at once in one process.
constexpr std::size_t kMaxLiveTemporaries = 8;

// Creates a new empty file under a unique name in the directory of `target` (so on its file system),
// as CreateNewFile does, and stores its path in `*tempPath`. Its name has the form
// "~tovrel-XXXXXXXX.tmp" with eight lower-case letters or digits, whatever `target` is called.
// The file is live until MoveReplacing puts it in place or RemoveFile removes it. While any is live,
// an interrupt (SIGINT, SIGTERM or SIGHUP; on Windows Ctrl+C, Ctrl+Break or the console window
// closing) removes every live temporary and ends the process: by that signal (128 + its number to a
// shell) on POSIX, with STATUS_CONTROL_C_EXIT on Windows. An interrupt the run was started to ignore
// stays ignored, and one that comes while nothing is live does what it did before. Null when
// kMaxLiveTemporaries are live already.
std::FILE* CreateTempFile(const char* target, std::string* tempPath);

// Sets aside room for `size` bytes in the new, empty `file`, which is about to be filled front to back
// with exactly that many, so the system need not grow it piece by piece. Only a hint: where the system
// cannot (or the disk is full), the writes go on as they would have and meet the failure themselves.
void ReserveFileSpace(std::FILE* file, std::int64_t size);

// Puts the complete file `from` (a temporary of ours, closed) in the place of `to` by one rename on one
// file system, and pushes that change to disk. A file already at `to` passes its permission bits on to
// the new file (and, where the system allows, its owner); one the running user may not write (no write
// permission, or the read-only attribute) is not replaced. On Windows a replacement that another
// program blocks for a moment is retried for about two seconds. On failure `to` is unchanged, `from`
// is left as it was (still live, when it is a temporary), and the reason is left for LastFailure. Once
// moved, `from` is no longer live; an interrupt never comes between the rename and that, nor (on
// POSIX) before the directory's change is on disk.
bool MoveReplacing(const char* from, const char* to);

// Removes the file at `path` (a temporary of ours), retrying on Windows like MoveReplacing, and ends
// its life as a temporary either way. False when it is still there. LastFailure is left as it was: a
// removal tidies up after another failure, and that one's reason is the one to report.
bool RemoveFile(const char* path);

// The length of the open `file`, whatever its size (a 64-bit query on every platform); -1 when it
// cannot be had. The stream position is left where it was.
std::int64_t FileSize(std::FILE* file);

// Pushes `file`'s buffered bytes to the operating system and then to the disk (fflush, then fsync or
// FlushFileBuffers). Returns false when either step fails.
bool FlushToDisk(std::FILE* file);

// The reason for the latest failure of a function of this layer, in the system's own words.
std::string LastFailure();

// Makes the C library's errno the latest failure (for a failed C library call made outside this
// layer), or `otherwise` when errno is 0.
void RecordErrno(const char* otherwise);

// Makes `reason` the latest failure.
void RecordFailure(const std::string& reason);

// Writes the UTF-8 `text` to `stream` (stdout or stderr). On a Windows console it goes out as UTF-16,
// so every character shows; anywhere else the bytes go out as they are.
void WriteText(std::FILE* stream, const std::string& text);

// Called just before the process exits. On a visible console that belongs to this process alone (a
// file dropped on Tovrel.exe in Explorer), writes a prompt to that console (not to stdout) and waits
// for Enter so the report can be read; otherwise does nothing.
void HoldConsoleIfOwned();

}  // namespace tovrel

#endif  // TOVREL_PLATFORM_PLATFORM_H_
