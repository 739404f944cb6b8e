// The pack command. The new archive is built completely at "<archive>.new" beside the final path and
// only then moved over it, so a pack that fails anywhere leaves the previous archive as it was and no
// half-made file behind.
#include <cerrno>
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

constexpr char kPendingSuffix[] = ".new";

bool Fits(const std::string& path) { return path.size() < kMaxPath; }

// The reason behind a failed call, when the C library left one.
const char* Reason(int error, const char* otherwise) { return error != 0 ? std::strerror(error) : otherwise; }

struct PackTotals {
  std::int32_t archiveBytes = 0;
  std::int32_t originalBytes = 0;
  std::int32_t fileCount = 0;
};

// Adds the member file `name` of `directory` to `archive`. Returns 0 or the exit code of the failure,
// which it has reported.
int AddMember(Archive* archive, const char* directory, const char* name, PackTotals* totals) {
  const std::string memberPath = std::string(directory) + name;
  if (!Fits(memberPath)) {
    ReportError("cannot read '%s': the path is longer than %zu bytes", memberPath.c_str(), kMaxPath - 1);
    return kExitNotFound;
  }
  Blob blob;
  errno = 0;
  if (!ReadWholeFile(memberPath.c_str(), &blob)) {
    ReportError("cannot read '%s': %s", memberPath.c_str(),
                Reason(errno, "it is not a regular file under 2 GiB that can be read whole"));
    return kExitNotFound;
  }
  const char* entryName = FindExtension(name);
  if (std::strcmp(entryName, kSaveExtension) == 0) {
    ScrambleSaveData(blob.buffer, static_cast<std::uint32_t>(blob.length), kScrambleKey);
  }
  const std::int32_t length = blob.length;
  // the entry takes the buffer over: a whole file is not copied a second time
  const bool added = archive->AddOwnedBlob(entryName, &blob);
  // counters wrap like 32-bit signed ones, without overflowing
  totals->originalBytes = static_cast<std::int32_t>(static_cast<std::uint32_t>(totals->originalBytes) +
                                                    static_cast<std::uint32_t>(length));
  if (!added) {
    ReportError("cannot add '%s' to the archive: its entry name is too long or memory ran out",
                memberPath.c_str());
    return kExitArchiveFailed;
  }
  totals->fileCount += 1;
  return kExitOk;
}

// Builds the complete archive at `pendingPath` from the files in `found`. Returns 0 with `*totals`
// filled, or the exit code of the failure, which it has reported. The archive file is closed on return.
int BuildArchive(const char* directory, const char* baseName, const std::vector<FoundFile>& found,
                 const std::string& archivePath, const std::string& pendingPath, PackTotals* totals) {
  errno = 0;
  Archive archive(pendingPath.c_str(), /*create=*/true);
  if (!archive.IsOpen()) {
    ReportError("cannot create the archive '%s': %s", pendingPath.c_str(),
                Reason(errno, "the new file does not read back as an archive"));
    return kExitArchiveFailed;
  }
  const std::size_t baseLength = std::strlen(baseName);
  // the save's own archive, as the file system spells it (on Windows AUTOSAVE1.SSAV is that file too)
  const std::string ownArchivePath = std::string(directory) + baseName + kArchiveExtension;
  for (const FoundFile& file : found) {
    const char* name = file.name.c_str();
    const std::string path = std::string(directory) + name;
    // a directory is no member; neither is the archive being replaced or a stale pending one
    if (file.isDirectory || SamePath(path.c_str(), archivePath.c_str()) ||
        SamePath(path.c_str(), pendingPath.c_str())) {
      continue;
    }
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
    const int code = AddMember(&archive, directory, name, totals);
    if (code != kExitOk) return code;
  }
  errno = 0;
  if (!archive.Save()) {
    ReportError("cannot save the archive '%s' (written through '%s' in the working directory): %s",
                archivePath.c_str(), kTempFileName, Reason(errno, "a write failed"));
    return kExitArchiveFailed;
  }
  totals->archiveBytes = archive.FileLength();
  return kExitOk;
}

}  // namespace

int PackSave(const char* directory, const char* baseName, const char* archiveName) {
  const std::string savePath = std::string(directory) + baseName + kSaveExtension;
  // a directory named like a save would pack into an empty archive over a good one
  if (IsDirectory(savePath.c_str())) {
    ReportError("cannot pack '%s': it is a directory, not a save", savePath.c_str());
    return kExitNotFound;
  }
  const std::string archivePath =
      std::string(directory) + (archiveName != nullptr ? archiveName : baseName) + kArchiveExtension;
  const std::string pendingPath = archivePath + kPendingSuffix;
  if (!Fits(pendingPath)) {
    ReportError("cannot pack into '%s': the path is longer than %zu bytes", pendingPath.c_str(),
                kMaxPath - 1);
    return kExitNotFound;
  }

  std::vector<FoundFile> found;
  if (!ListMatchingFiles(directory, baseName, &found)) {
    ReportError("cannot list the files of the save '%s%s' in '%s'", directory, baseName, directory);
    return kExitNotFound;
  }

  // a pending file left by an interrupted pack would be opened, entries and all, instead of created
  if (IsDirectory(pendingPath.c_str())) {
    ReportError("cannot create the archive '%s': a directory of that name is in the way",
                pendingPath.c_str());
    return kExitArchiveFailed;
  }
  errno = 0;
  if (std::remove(pendingPath.c_str()) != 0 && errno != ENOENT) {
    ReportError("cannot remove the stale file '%s': %s", pendingPath.c_str(), std::strerror(errno));
    return kExitArchiveFailed;
  }

  PackTotals totals;
  const int code = BuildArchive(directory, baseName, found, archivePath, pendingPath, &totals);
  if (code == kExitOk) {
    errno = 0;
    if (MoveReplacing(pendingPath.c_str(), archivePath.c_str())) {
      PrintStatistics(totals.archiveBytes, totals.originalBytes, totals.fileCount);
      return kExitOk;
    }
    ReportError("cannot put the new archive in place of '%s': %s", archivePath.c_str(),
                Reason(errno, "the move failed"));
  }
  (void)std::remove(pendingPath.c_str());  // the archive was not made: leave nothing half-made behind
  return code == kExitOk ? kExitArchiveFailed : code;
}

}  // namespace tovrel
