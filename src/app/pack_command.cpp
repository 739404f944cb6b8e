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
#include "app/naming.h"
#include "archive/archive.h"
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
  if (IsScrambled(entryName)) {
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

bool ListMembers(const char* directory, const char* baseName, const std::string& archivePath,
                 bool noteLookAlikes, std::vector<std::string>* members) {
  members->clear();
  std::vector<FoundFile> found;
  if (!ListMatchingFiles(directory, baseName, &found)) return false;
  for (const FoundFile& file : found) {
    switch (MemberFateOf(directory, baseName, file, archivePath)) {
      case MemberFate::kAdd:
        members->push_back(file.name);
        break;
      case MemberFate::kLookAlike:
        if (noteLookAlikes) {
          ReportNote("skipping '%s%s': not a file of the save '%s'", directory, file.name.c_str(), baseName);
        }
        break;
      case MemberFate::kLeftOut:
        break;
    }
  }
  return true;
}

int PackSave(const char* directory, const char* baseName, const char* archiveName) {
  const std::string savePath = SavePath(directory, baseName);
  // a directory named like a save would pack into an empty archive over a good one
  if (IsDirectory(savePath.c_str())) {
    ReportError("cannot pack '%s': it is a directory, not a save", savePath.c_str());
    return kExitNotFound;
  }
  const std::string archivePath = ArchivePath(directory, archiveName != nullptr ? archiveName : baseName);
  if (!PathFits(archivePath)) {
    ReportError("cannot pack into '%s': the path is longer than the system allows", archivePath.c_str());
    return kExitNotFound;
  }
  std::vector<std::string> members;
  if (!ListMembers(directory, baseName, archivePath, /*noteLookAlikes=*/true, &members)) {
    ReportError("cannot list the files of the save '%s%s' in '%s'", directory, baseName, directory);
    return kExitNotFound;
  }

  Archive archive = Archive::StartNew(archivePath.c_str());
  PackTotals totals;
  for (const std::string& member : members) {
    const int code = AddMember(&archive, directory, member.c_str(), &totals);
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
