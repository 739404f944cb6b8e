// The unpack command. Each entry goes to a new temporary file beside its destination and takes the
// destination's place only when complete, so an existing file is never left truncated. Entry names
// come from the archive and are not trusted: one that could reach outside the archive's directory is
// refused.
#include <cstdint>
#include <cstdio>
#include <string>

#include "app/commands.h"
#include "app/console.h"
#include "app/naming.h"
#include "archive/archive.h"
#include "archive/iarchive.h"
#include "core/common.h"
#include "core/scrambler.h"
#include "core/whole_file.h"
#include "platform/platform.h"

namespace tovrel {

namespace {

// The rules of the archive being unpacked: ForEach's callback is a plain function, so it finds them
// here. Each archive of a run has its own.
EntryRules* rules = nullptr;
// Set by ExtractEntryToFile, which has no result, when an entry could not be written.
bool entryFailed = false;

}  // namespace

void ExtractEntryToFile(Archive* archive, const char* entryName) {
  const std::string shownName = Printable(entryName);
  const char* archivePath = archive->Path();
  const EntryDecision decision = rules->Decide(entryName);
  const std::string shownPath = Printable(decision.outputPath);
  switch (decision.fate) {
    case EntryFate::kWrite:
      break;
    case EntryFate::kSkipped:
      ReportNote("skipping entry '%s' of '%s': %s", shownName.c_str(), archivePath,
                 FateReason(decision.fate).c_str());
      return;
    case EntryFate::kPathTooLong:
      ReportError("cannot write entry '%s' to '%s': %s", shownName.c_str(), shownPath.c_str(),
                  FateReason(decision.fate).c_str());
      entryFailed = true;
      return;
    case EntryFate::kBadName:
    case EntryFate::kOverArchive:
      ReportError("refusing entry '%s' of '%s': %s", shownName.c_str(), archivePath,
                  FateReason(decision.fate).c_str());
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
  if (IsScrambled(entryName)) {
    ScrambleSaveData(blob.buffer, static_cast<std::uint32_t>(blob.length), kScrambleKey);
  }
  rules->Count();
  const bool written = WriteWholeFile(decision.outputPath.c_str(), blob);
  entries.FreeBlob(&blob);
  if (!written) {
    ReportError("cannot write '%s': %s", shownPath.c_str(), LastFailure().c_str());
    entryFailed = true;
  }
}

int UnpackArchive(const char* directory, const char* baseName) {
  return WithArchive(directory, baseName, [&](Archive& archive) {
    EntryRules archiveRules(directory, baseName);
    rules = &archiveRules;
    entryFailed = false;
    const std::int32_t fileCount = archive.ForEach(ExtractEntryToFile);
    rules = nullptr;
    PrintStatistics(archive.FileLength(), archive.TotalOriginalSize(), fileCount);
    return entryFailed ? kExitArchiveFailed : kExitOk;
  });
}

}  // namespace tovrel
