// The pack command. The archive is built in memory and written by Save to a new temporary file beside
// its final path, which takes the archive's place only when complete, so a pack that fails anywhere
// leaves the previous archive as it was and no half-made file behind.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/console.h"
#include "archive/archive.h"
#include "archive/archive_format.h"
#include "core/common.h"
#include "core/scrambler.h"
#include "core/whole_file.h"
#include "platform/platform.h"

namespace tovrel {

namespace {

struct PackTotals {
  std::int32_t originalBytes = 0;
  std::int32_t fileCount = 0;
};

// Adds the member file `name` of `directory` to `archive`. Returns 0 or the exit code of the failure,
// which it has reported.
int AddMember(Archive* archive, const char* directory, const char* name, PackTotals* totals) {
  const std::string memberPath = std::string(directory) + name;
  if (!PathFits(memberPath)) {
    ReportError("cannot read '%s': the path is longer than the system allows", memberPath.c_str());
    return kExitNotFound;
  }
  Blob blob;
  if (!ReadWholeFile(memberPath.c_str(), &blob)) {
    ReportError("cannot read '%s': %s", memberPath.c_str(), LastFailure().c_str());
    return kExitNotFound;
  }
  const char* entryName = FindExtension(name);
  if (std::strcmp(entryName, kSaveExtension) == 0) {
    ScrambleSaveData(blob.buffer, static_cast<std::uint32_t>(blob.length), kScrambleKey);
  }
  const std::int32_t length = blob.length;
  // the entry takes the buffer over: a whole file is not copied a second time
  if (!archive->AddOwnedBlob(entryName, &blob)) {
    ReportError("cannot add '%s' to the archive: its entry name is too long or memory ran out",
                memberPath.c_str());
    return kExitArchiveFailed;
  }
  // counters wrap like 32-bit signed ones, without overflowing
  totals->originalBytes = static_cast<std::int32_t>(static_cast<std::uint32_t>(totals->originalBytes) +
                                                    static_cast<std::uint32_t>(length));
  totals->fileCount += 1;
  return kExitOk;
}

}  // namespace

FileKind KindOf(const char* name) {
  const char* extension = FindExtension(name);
  if (std::strcmp(extension, kSaveExtension) == 0) return FileKind::kSave;
  if (std::strcmp(extension, kArchiveExtension) == 0) return FileKind::kArchive;
  return FileKind::kOther;
}

int PackSave(const char* directory, const char* baseName, const char* archiveName) {
  const std::string savePath = std::string(directory) + baseName + kSaveExtension;
  // a directory named like a save would pack into an empty archive over a good one
  if (IsDirectory(savePath.c_str())) {
    ReportError("cannot pack '%s': it is a directory, not a save", savePath.c_str());
    return kExitNotFound;
  }
  const std::string archivePath =
      std::string(directory) + (archiveName != nullptr ? archiveName : baseName) + kArchiveExtension;
  if (!PathFits(archivePath)) {
    ReportError("cannot pack into '%s': the path is longer than the system allows", archivePath.c_str());
    return kExitNotFound;
  }
  std::vector<FoundFile> found;
  if (!ListMatchingFiles(directory, baseName, &found)) {
    ReportError("cannot list the files of the save '%s%s' in '%s'", directory, baseName, directory);
    return kExitNotFound;
  }

  Archive archive = Archive::StartNew(archivePath.c_str());
  PackTotals totals;
  const std::size_t baseLength = std::strlen(baseName);
  // the save's own archive, as the file system spells it (on Windows AUTOSAVE1.SSAV is that file too)
  const std::string ownArchivePath = std::string(directory) + baseName + kArchiveExtension;
  for (const FoundFile& file : found) {
    const char* name = file.name.c_str();
    const std::string path = std::string(directory) + name;
    // a directory is no member, nor is the archive being replaced
    if (file.isDirectory || SamePath(path.c_str(), archivePath.c_str())) continue;
    const char* entryName = FindExtension(name);
    // only the save's own files: "autosave1.old.sav" would come back as a second autosave1.sav
    if (static_cast<std::size_t>(entryName - name) != baseLength) {
      ReportNote("skipping '%s': not a file of the save '%s'", path.c_str(), baseName);
      continue;
    }
    // an archive is never a member
    if (std::strcmp(entryName, kArchiveExtension) == 0 || SamePath(path.c_str(), ownArchivePath.c_str())) {
      continue;
    }
    const int code = AddMember(&archive, directory, name, &totals);
    if (code != kExitOk) return code;
  }
  if (!archive.Save()) {
    ReportError("cannot save the archive '%s': %s", archivePath.c_str(), LastFailure().c_str());
    return kExitArchiveFailed;
  }
  if (totals.fileCount > kMaxFilesPerUnpack) {
    ReportNote("'%s' holds %d files, but unpacking writes at most %d files per run", archivePath.c_str(),
               totals.fileCount, kMaxFilesPerUnpack);
  }
  PrintStatistics(archive.FileLength(), totals.originalBytes, totals.fileCount);
  return kExitOk;
}

}  // namespace tovrel
