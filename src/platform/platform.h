// The few operating-system services the tool needs: absolute paths, existence tests, the search for a
// save's files, and the safe replacement of one file by another. One implementation per OS
// (platform_posix.cpp, platform_win32.cpp); the build picks one. Nothing here prints.
// Paths are narrow byte strings; every function that composes a path refuses one that would not fit
// in kMaxPath bytes (terminator included) instead of truncating it.
#ifndef TOVREL_PLATFORM_PLATFORM_H_
#define TOVREL_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace tovrel {

// The longest path, terminator included: MAX_PATH (260) on Windows, PATH_MAX on POSIX.
extern const std::size_t kMaxPath;

// Stores in `*out` the absolute form of `path`: a relative path is joined to the current directory and
// "." and ".." components are folded lexically; links are not resolved and the path need not exist.
// Returns false, leaving `*out` unspecified, when the current directory cannot be read or the result
// would not fit in kMaxPath.
bool MakeAbsolutePath(const char* path, std::string* out);

// True when something (file or directory) exists at `path`.
bool PathExists(const char* path);

// True when `path` names an existing directory.
bool IsDirectory(const char* path);

// A full path cut into the directory (drive included, ending in its separator), the base name and the
// last extension (from the last '.' of the final component, or empty).
struct PathParts {
  std::string directory;
  std::string baseName;
  std::string extension;
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
// platform's file system, and the names come back sorted byte by byte. Returns false, with `*found`
// empty, when the directory cannot be searched or nothing matches.
bool ListMatchingFiles(const char* directory, const char* baseName, std::vector<FoundFile>* found);

// True when `a` and `b` name the same path as the platform compares names (on Windows: in any letter
// case, and with the trailing dots and spaces Windows drops from a name ignored). Both are absolute
// paths built by the same rules.
bool SamePath(const char* a, const char* b);

// A key for the file `path` names: two paths name the same file exactly when their keys are equal, by
// the same rules as SamePath (so, on Windows, in any letter case). For sets of paths.
std::string PathKey(const char* path);

// Puts the complete file `from` in the place of `to`. A file already at `to` stays intact until this
// succeeds; there is no moment at which neither file is at `to`. Works across file systems (by copying
// and syncing when a rename cannot). On success `from` is gone; on failure `to` is unchanged and
// `from` is left as it was.
bool MoveReplacing(const char* from, const char* to);

// Pushes `file`'s buffered bytes to the operating system and then to the disk (fflush, then fsync or
// FlushFileBuffers). Returns false when either step fails.
bool FlushToDisk(std::FILE* file);

// Called just before the process exits. On a console that belongs to this process alone (a file dropped
// on Tovrel.exe in Explorer), writes a prompt to that console (not to stdout) and waits for Enter so the
// report can be read; otherwise does nothing.
void HoldConsoleIfOwned();

// The rule HoldConsoleIfOwned follows: true only when the console has this process alone
// (`consoleProcessCount` is 1; 0 stands for no console or a failed query) and neither stdin nor stdout
// is redirected away from it.
bool ShouldHoldConsole(unsigned long consoleProcessCount, bool stdinIsConsole, bool stdoutIsConsole);

}  // namespace tovrel

#endif  // TOVREL_PLATFORM_PLATFORM_H_
