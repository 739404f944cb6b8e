// The tool's commands. `directory` ends in its separator; every further path is built from it and the
// base name, and is refused (not truncated) when it would not fit the platform's path limit.
#ifndef TOVREL_APP_COMMANDS_H_
#define TOVREL_APP_COMMANDS_H_

#include <cstdint>
#include <string>

namespace tovrel {

class Archive;

// What the tool does with a file, told by its name's last extension (exact, case-sensitive): packs a
// save (".sav"), unpacks an archive (".ssav"), or leaves anything else alone.
enum class FileKind { kOther = 0, kSave = 1, kArchive = 2 };
FileKind KindOf(const char* name);

// Unpacking writes at most this many files per archive; later entries are skipped with a note.
constexpr std::int32_t kMaxFilesPerUnpack = 3;

// Packs every file of the save <directory><baseName>.* into <directory><archiveName or baseName>.ssav,
// scrambling the ".sav" member, and prints the report. Returns the exit code: 0 packed, 1 no file of
// the save or a member unreadable, 3 the archive could not be created or saved. On failure the
// previous archive at that path, if any, is left as it was.
int PackSave(const char* directory, const char* baseName, const char* archiveName);

// Writes the entries of <directory><baseName>.ssav back into files beside it (three at most),
// unscrambling the ".sav" entry, and prints the report. Returns 0, or 3 when the archive cannot be
// opened or an entry could not be written.
int UnpackArchive(const char* directory, const char* baseName);

// The ForEach callback of UnpackArchive: writes the entry `entryName` of `archive` to its file.
void ExtractEntryToFile(Archive* archive, const char* entryName);

// What unpacking does with one entry.
enum class EntryFate {
  kWrite,        // written to its file
  kSkipped,      // over the three-file limit
  kBadName,      // the name holds a path separator or ':'
  kOverArchive,  // the file would be the archive itself
  kPathTooLong   // the file's path would not fit the platform's limit
};

// Where and whether unpacking the archive at `archivePath` writes its entry `entryName`, once
// `filesSoFar` files of that archive have been written.
struct EntryPlan {
  EntryFate fate;
  std::string outputPath;  // the archive's path with its extension replaced by the entry name
};
EntryPlan PlanEntry(const char* archivePath, const char* entryName, std::int32_t filesSoFar);

// Why an entry of this fate is not written, as messages and listings say it ("" for kWrite).
std::string FateReason(EntryFate fate);

// `text` with control bytes written as \xNN, so a hostile entry name cannot break a line in two.
std::string Printable(const std::string& text);

// Prints the entries of the archive <directory><baseName>.ssav, one line each in the order unpacking
// visits them: the file each would be written to, its original and stored sizes, and why unpacking
// would skip or refuse it; then the totals. Opens the archive for reading alone and writes nothing.
// Returns 0, 1 when the path is too long, or 3 when the archive cannot be opened.
int ListArchive(const char* directory, const char* baseName);

// Inflates every entry of the archive <directory><baseName>.ssav in memory and prints each as intact
// or damaged, with the reason; then the totals. Opens the archive for reading alone and writes nothing.
// Returns 0 when every entry is intact, 1 when the path is too long, 3 otherwise.
int TestArchive(const char* directory, const char* baseName);

}  // namespace tovrel

#endif  // TOVREL_APP_COMMANDS_H_
