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

// The files written (or attempted) in this run: the limit is per process, not per archive.
std::int32_t filesWritten = 0;
// Set by ExtractEntryToFile, which has no result, when an entry could not be written.
bool entryFailed = false;

// `text` with control bytes written as \xNN, so a hostile entry name cannot break a message line.
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

}  // namespace

void ExtractEntryToFile(Archive* archive, const char* entryName) {
  const std::string shownName = Printable(entryName);
  const char* archivePath = archive->Path();
  if (filesWritten >= kMaxFilesPerUnpack) {
    ReportNote("skipping entry '%s' of '%s': at most %d files are written per run", shownName.c_str(),
               archivePath, kMaxFilesPerUnpack);
    return;
  }
  // separators or a drive colon would write outside the archive's directory or into a stream
  if (std::strpbrk(entryName, "/\\:") != nullptr) {
    ReportError("refusing entry '%s' of '%s': its name holds a path separator or ':'", shownName.c_str(),
                archivePath);
    entryFailed = true;
    return;
  }
  // the output is the archive's path with its extension replaced by the entry name
  const std::string outputPath =
      std::string(archivePath, static_cast<std::size_t>(FindExtension(archivePath) - archivePath)) +
      entryName;
  const std::string shownPath = Printable(outputPath);
  if (!PathFits(outputPath)) {
    ReportError("cannot write entry '%s': the path '%s' is longer than the system allows", shownName.c_str(),
                shownPath.c_str());
    entryFailed = true;
    return;
  }
  if (SamePath(outputPath.c_str(), archivePath)) {
    ReportError("refusing entry '%s' of '%s': it would overwrite the archive itself", shownName.c_str(),
                archivePath);
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
  const bool written = WriteWholeFile(outputPath.c_str(), blob);
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
  entryFailed = false;
  const std::int32_t fileCount = archive.ForEach(ExtractEntryToFile);
  const std::int32_t originalBytes = archive.TotalOriginalSize();
  PrintStatistics(archive.FileLength(), originalBytes, fileCount);
  return entryFailed ? kExitArchiveFailed : kExitOk;
}

}  // namespace tovrel
