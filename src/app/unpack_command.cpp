// The unpack command. Each entry goes to a new temporary file beside its destination and takes the
// destination's place only when complete, so an existing file is never left truncated. Entry names
// come from the archive and are not trusted: one that could reach outside the archive's directory is
// refused.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/commands.h"
#include "app/console.h"
#include "archive/archive.h"
#include "archive/archive_format.h"
#include "archive/iarchive.h"
#include "core/common.h"
#include "core/scrambler.h"
#include "core/whole_file.h"
#include "platform/platform.h"

namespace tovrel {

namespace {

// The files of the current archive written (or attempted): the limit is per archive.
std::int32_t filesWritten = 0;
// Set by ExtractEntryToFile, which has no result, when an entry could not be written.
bool entryFailed = false;

}  // namespace

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

EntryPlan PlanEntry(const char* archivePath, const char* entryName, std::int32_t filesSoFar) {
  // the output is the archive's path with its extension replaced by the entry name
  EntryPlan plan{
      EntryFate::kWrite,
      std::string(archivePath, static_cast<std::size_t>(FindExtension(archivePath) - archivePath)) +
          entryName};
  if (filesSoFar >= kMaxFilesPerUnpack) {
    plan.fate = EntryFate::kSkipped;
  } else if (std::strpbrk(entryName, "/\\:") != nullptr) {
    // separators or a drive colon would write outside the archive's directory or into a stream
    plan.fate = EntryFate::kBadName;
  } else if (!PathFits(plan.outputPath)) {
    plan.fate = EntryFate::kPathTooLong;
  } else if (SamePath(plan.outputPath.c_str(), archivePath)) {
    plan.fate = EntryFate::kOverArchive;
  }
  return plan;
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

void ExtractEntryToFile(Archive* archive, const char* entryName) {
  const std::string shownName = Printable(entryName);
  const char* archivePath = archive->Path();
  const EntryPlan plan = PlanEntry(archivePath, entryName, filesWritten);
  const std::string shownPath = Printable(plan.outputPath);
  switch (plan.fate) {
    case EntryFate::kWrite:
      break;
    case EntryFate::kSkipped:
      ReportNote("skipping entry '%s' of '%s': %s", shownName.c_str(), archivePath,
                 FateReason(plan.fate).c_str());
      return;
    case EntryFate::kPathTooLong:
      ReportError("cannot write entry '%s' to '%s': %s", shownName.c_str(), shownPath.c_str(),
                  FateReason(plan.fate).c_str());
      entryFailed = true;
      return;
    case EntryFate::kBadName:
    case EntryFate::kOverArchive:
      ReportError("refusing entry '%s' of '%s': %s", shownName.c_str(), archivePath,
                  FateReason(plan.fate).c_str());
      entryFailed = true;
      return;
  }

  IArchive& entries = *archive;
  Blob blob;
  if (!entries.Extract(entryName, &blob)) {
    ReportError("cannot extract entry '%s' of '%s': %s", shownName.c_str(), archivePath,
                LastFailure().c_str());
    entryFailed = true;
    return;
  }
  if (std::strcmp(entryName, kSaveExtension) == 0) {
    ScrambleSaveData(blob.buffer, static_cast<std::uint32_t>(blob.length), kScrambleKey);
  }
  filesWritten += 1;  // an attempt counts toward the limit whether or not the write succeeds
  const bool written = WriteWholeFile(plan.outputPath.c_str(), blob);
  entries.FreeBlob(&blob);
  if (!written) {
    ReportError("cannot write '%s': %s", shownPath.c_str(), LastFailure().c_str());
    entryFailed = true;
  }
}

int UnpackArchive(const char* directory, const char* baseName) {
  const std::string archivePath = std::string(directory) + baseName + kArchiveExtension;
  if (!PathFits(archivePath)) {
    ReportError("cannot open the archive '%s': the path is longer than the system allows",
                archivePath.c_str());
    return kExitNotFound;
  }
  Archive archive(archivePath.c_str(), /*create=*/false);
  if (!archive.IsOpen()) {
    ReportError("cannot open the archive '%s': %s", archivePath.c_str(), LastFailure().c_str());
    return kExitArchiveFailed;
  }
  filesWritten = 0;  // each archive of a run has its own three files
  entryFailed = false;
  const std::int32_t fileCount = archive.ForEach(ExtractEntryToFile);
  const std::int32_t originalBytes = archive.TotalOriginalSize();
  PrintStatistics(archive.FileLength(), originalBytes, fileCount);
  return entryFailed ? kExitArchiveFailed : kExitOk;
}

}  // namespace tovrel
