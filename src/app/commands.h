// The tool's commands. `directory` ends in its separator; every further path is built from it and the
// base name by the rules of naming.h, and is refused (not truncated) when it would not fit the
// platform's path limit. Each command reports its own failures and returns its exit code.
#ifndef TOVREL_APP_COMMANDS_H_
#define TOVREL_APP_COMMANDS_H_

#include <functional>
#include <string>
#include <vector>

namespace tovrel {

class Archive;

// Packs every file of the save <directory><baseName>.* into <directory><archiveName or baseName>.ssav,
// scrambling the ".sav" member, and prints the report. Returns the exit code: 0 packed, 1 no file of
// the save or a member unreadable, 3 the archive could not be created or saved. On failure the
// previous archive at that path, if any, is left as it was.
int PackSave(const char* directory, const char* baseName, const char* archiveName);

// Fills `*members` with the names (without directory) of the files a pack of the save <directory><baseName>
// into `archivePath` adds, in the order it adds them. With `noteLookAlikes` it prints a note for each
// file named like the save that is not its own. False when the save's files cannot be listed.
bool ListMembers(const char* directory, const char* baseName, const std::string& archivePath,
                 bool noteLookAlikes, std::vector<std::string>* members);

// Writes the entries of <directory><baseName>.ssav back into files beside it (three at most),
// unscrambling the ".sav" entry, and prints the report. Returns 0, 1 when the archive's path is too
// long, or 3 when the archive cannot be opened or an entry could not be written.
int UnpackArchive(const char* directory, const char* baseName);

// The ForEach callback of UnpackArchive: writes the entry `entryName` of `archive` to its file.
void ExtractEntryToFile(Archive* archive, const char* entryName);

// Prints the entries of the archive <directory><baseName>.ssav, one line each in the order unpacking
// visits them: the file each would be written to, its original and stored sizes, and why unpacking
// would skip or refuse it; then the totals. Opens the archive for reading alone and writes nothing.
// Returns 0, 1 when the path is too long, or 3 when the archive cannot be opened.
int ListArchive(const char* directory, const char* baseName);

// Inflates every entry of the archive <directory><baseName>.ssav in memory and prints each as intact
// or damaged, with the reason; then the totals. Opens the archive for reading alone and writes nothing.
// Returns 0 when every entry is intact, 1 when the path is too long, 3 otherwise.
int TestArchive(const char* directory, const char* baseName);

// Opens the archive <directory><baseName>.ssav for reading alone (no command writes an archive it
// reads) and returns what `use` returns for it. An archive that cannot be opened is reported here, the
// same way for every command, and gives 1 when its path is too long, 3 otherwise.
int WithArchive(const char* directory, const char* baseName, const std::function<int(Archive&)>& use);

}  // namespace tovrel

#endif  // TOVREL_APP_COMMANDS_H_
