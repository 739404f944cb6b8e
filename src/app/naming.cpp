// The tool's naming rules. Paths are composed by plain concatenation from a directory that ends in its
// separator; whether a composed path fits the platform's limit is the caller's check, except for an
// entry's output path, whose fate says so.
#include "app/naming.h"

#include <cstdio>
#include <cstring>

#include "archive/archive_format.h"

namespace tovrel {

FileKind KindOf(const char* name) {
  const char* extension = FindExtension(name);
  if (std::strcmp(extension, kSaveExtension) == 0) return FileKind::kSave;
  if (std::strcmp(extension, kArchiveExtension) == 0) return FileKind::kArchive;
  return FileKind::kOther;
}

std::string ArchivePath(const std::string& directory, const std::string& name) {
  return directory + name + kArchiveExtension;
}

std::string SavePath(const std::string& directory, const std::string& baseName) {
  return directory + baseName + kSaveExtension;
}

bool IsScrambled(const char* entryName) { return std::strcmp(entryName, kSaveExtension) == 0; }

MemberFate MemberFateOf(const std::string& directory, const std::string& baseName, const FoundFile& file,
                        const std::string& archivePath) {
  const std::string path = directory + file.name;
  // a directory is no member, nor is the archive being replaced
  if (file.isDirectory || SamePath(path.c_str(), archivePath.c_str())) return MemberFate::kLeftOut;
  const char* name = file.name.c_str();
  // only the save's own files: "autosave1.old.sav" would come back as a second autosave1.sav
  if (static_cast<std::size_t>(FindExtension(name) - name) != baseName.size()) return MemberFate::kLookAlike;
  // an archive is never a member: the save's own, as the file system spells it (on Windows
  // AUTOSAVE1.SSAV is that file too), or any other
  if (KindOf(name) == FileKind::kArchive ||
      SamePath(path.c_str(), ArchivePath(directory, baseName).c_str())) {
    return MemberFate::kLeftOut;
  }
  return MemberFate::kAdd;
}

EntryRules::EntryRules(const std::string& directory, const std::string& baseName)
    : directory_(directory), baseName_(baseName), archivePath_(tovrel::ArchivePath(directory, baseName)) {}

EntryDecision EntryRules::Decide(const char* entryName) const {
  EntryDecision decision{EntryFate::kWrite, directory_ + baseName_ + entryName};
  if (files_ >= kMaxFilesPerUnpack) {
    decision.fate = EntryFate::kSkipped;
  } else if (std::strpbrk(entryName, "/\\:") != nullptr) {
    // separators or a drive colon would write outside the archive's directory or into a stream
    decision.fate = EntryFate::kBadName;
  } else if (!PathFits(decision.outputPath)) {
    decision.fate = EntryFate::kPathTooLong;
  } else if (SamePath(decision.outputPath.c_str(), archivePath_.c_str())) {
    decision.fate = EntryFate::kOverArchive;
  }
  return decision;
}

std::string FateReason(EntryFate fate) {
  switch (fate) {
    case EntryFate::kWrite:
      break;
    case EntryFate::kSkipped:
      return "at most " + std::to_string(kMaxFilesPerUnpack) + " files are written per archive";
    case EntryFate::kBadName:
      return "its name holds a path separator or ':'";
    case EntryFate::kOverArchive:
      return "it would overwrite the archive itself";
    case EntryFate::kPathTooLong:
      return "its path would be longer than the system allows";
  }
  return "";
}

std::string Printable(const std::string& text) {
  std::string shown;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      shown += escaped;
    } else {
      shown += c;
    }
  }
  return shown;
}

}  // namespace tovrel
