// The tool's two commands. `directory` ends in its separator; every further path is built from it and
// the base name, and is refused (not truncated) when it would not fit the platform's path limit.
#ifndef TOVREL_APP_COMMANDS_H_
#define TOVREL_APP_COMMANDS_H_

#include <cstdint>

namespace tovrel {

class Archive;

// Unpacking writes at most this many files per run; later entries are skipped with a note.
constexpr std::int32_t kMaxFilesPerUnpack = 3;

// Packs every file of the save <directory><baseName>.* into <directory><archiveName or baseName>.ssav,
// scrambling the ".sav" member, and prints the report. Returns the exit code: 0 packed, 1 no file of
// the save or a member unreadable, 3 the archive could not be created or saved. On failure the
// previous archive at that path, if any, is left as it was.
int PackSave(const char* directory, const char* baseName, const char* archiveName);

// Writes the entries of <directory><baseName>.ssav back into files beside it (three per run at most),
// unscrambling the ".sav" entry, and prints the report. Returns 0, or 3 when the archive cannot be
// opened or an entry could not be written.
int UnpackArchive(const char* directory, const char* baseName);

// The ForEach callback of UnpackArchive: writes the entry `entryName` of `archive` to its file.
void ExtractEntryToFile(Archive* archive, const char* entryName);

}  // namespace tovrel

#endif  // TOVREL_APP_COMMANDS_H_
