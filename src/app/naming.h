// Every naming rule of the tool, in one place: which file is a save or an archive, where a save's
// archive goes, which found files are a save's members, which file an entry becomes, whether unpacking
// writes it (the three-file limit among the reasons), and how a hostile name is shown. The commands, the
// command-line plan and the browser page all ask here, so they cannot come to disagree.
#ifndef TOVREL_APP_NAMING_H_
#define TOVREL_APP_NAMING_H_

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace tovrel {

// What the tool does with a file, told by its name's last extension (exact, case-sensitive): packs a
// save (".sav"), unpacks an archive (".ssav"), or leaves anything else alone.
enum class FileKind { kOther, kSave, kArchive };
FileKind KindOf(const char* name);

// The archive a pack of <directory><name>.sav makes, or an unpack of <directory><name>.ssav reads:
// <directory><name>.ssav. `name` is the save's base name or the archive name given for it.
std::string ArchivePath(const std::string& directory, const std::string& name);

// The save file itself: <directory><baseName>.sav.
std::string SavePath(const std::string& directory, const std::string& baseName);

// True when the entry named `entryName` holds save data, stored scrambled.
bool IsScrambled(const char* entryName);

// What packing does with a file its search found for the save `baseName`.
enum class MemberFate {
  kAdd,        // a member: added under its extension
  kLookAlike,  // named like the save but not its own ("autosave1.old.sav"): skipped with a note
  kLeftOut     // a directory, or an archive (the one being made among them): skipped silently
};

// The fate of the found `file` of `directory` when the save `baseName` is packed into `archivePath`.
MemberFate MemberFateOf(const std::string& directory, const std::string& baseName, const FoundFile& file,
                        const std::string& archivePath);

// Unpacking writes at most this many files per archive; later entries are skipped with a note.
constexpr std::int32_t kMaxFilesPerUnpack = 3;

// What unpacking does with one entry.
enum class EntryFate {
  kWrite,        // written to its file
  kSkipped,      // over the three-file limit
  kBadName,      // the name holds a path separator or ':'
  kOverArchive,  // the file would be the archive itself
  kPathTooLong   // the file's path would not fit the platform's limit
};

// Where and whether an entry is written.
struct EntryDecision {
  EntryFate fate;
  std::string outputPath;  // <directory><baseName><entry name>: the archive's path, extension replaced
};

// Decides, entry by entry in the order unpacking visits them, what unpacking one archive does, and
// keeps that archive's count of files toward the three-file limit. Unpacking and listing both use it.
class EntryRules {
 public:
  EntryRules(const std::string& directory, const std::string& baseName);

  // What unpacking does with the entry `entryName`, given the files counted so far.
  EntryDecision Decide(const char* entryName) const;
  // Counts one file toward the limit: an entry whose bytes were had, whether or not its file can then
  // be written. (An entry that cannot be extracted counts for nothing, so the next one takes its place.)
  void Count() { files_ += 1; }
  std::int32_t Files() const { return files_; }
  const std::string& ArchivePath() const { return archivePath_; }

 private:
  std::string directory_;
  std::string baseName_;
  std::string archivePath_;
  std::int32_t files_ = 0;
};

// Why an entry of this fate is not written, as messages and listings say it ("" for kWrite).
std::string FateReason(EntryFate fate);

// `text` with control bytes written as \xNN, so a hostile entry name cannot break a line in two.
std::string Printable(const std::string& text);

}  // namespace tovrel

#endif  // TOVREL_APP_NAMING_H_
