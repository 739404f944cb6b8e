// The unpack command. Each entry is written to "<output>.part" beside its destination and moved over
// it only when complete, so an existing file is never left truncated. Entry names come from the
// archive and are not trusted: one that could reach outside the archive's directory is refused.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
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

constexpr char kPartSuffix[] = ".part";
constexpr std::int32_t kMaxFilesPerRun = 3;

// The files written (or attempted) in this run: the limit is per process, not per archive.
std::int32_t filesWritten = 0;
// Set by ExtractEntryToFile, which has no result, when an entry could not be written.
bool entryFailed = false;
// The files the entries of the archive being unpacked are written to, as PathKey gives them.
std::set<std::string> outputKeys;

bool Fits(const std::string& path) { return path.size() < kMaxPath; }

const char* Reason(int error, const char* otherwise) { return error != 0 ? std::strerror(error) : otherwise; }

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
  if (filesWritten >= kMaxFilesPerRun) {
    ReportNote("skipping entry '%s' of '%s': at most %d files are written per run", shownName.c_str(),
               archivePath, kMaxFilesPerRun);
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
  const std::string partPath = outputPath + kPartSuffix;
  if (!Fits(partPath)) {
    ReportError("cannot write entry '%s': the path '%s' is longer than %zu bytes", shownName.c_str(),
                Printable(partPath).c_str(), kMaxPath - 1);
    entryFailed = true;
    return;
  }
  if (SamePath(outputPath.c_str(), archivePath)) {
    ReportError("refusing entry '%s' of '%s': it would overwrite the archive itself", shownName.c_str(),
                archivePath);
    entryFailed = true;
    return;
  }

  // the temporary "<output>.part" must not be where another entry of this archive is written (in
  // any letter case where the file system ignores it)
  if (outputKeys.count(PathKey(partPath.c_str())) != 0) {
    ReportError("refusing entry '%s' of '%s': its temporary file '%s' is another entry's file",
                shownName.c_str(), archivePath, Printable(partPath).c_str());
    entryFailed = true;
    return;
  }

  IArchive& entries = *archive;
  Blob blob;
  if (!entries.Extract(entryName, &blob)) {
    ReportError("cannot extract entry '%s' of '%s': its data is damaged", shownName.c_str(), archivePath);
    entryFailed = true;
    return;
  }
  if (std::strcmp(entryName, kSaveExtension) == 0) {
    ScrambleSaveData(blob.buffer, static_cast<std::uint32_t>(blob.length), kScrambleKey);
  }
  filesWritten += 1;  // an attempt counts toward the limit whether or not the write succeeds
  // what is left at the temporary's path (a killed run's half file, or a link that could lead out of
  // the folder) is taken away, never written through; a directory there fails the write below instead
  errno = 0;
  if (!IsDirectory(partPath.c_str()) && std::remove(partPath.c_str()) != 0 && errno != ENOENT) {
    ReportError("cannot remove '%s' to write the entry there: %s", Printable(partPath).c_str(),
                std::strerror(errno));
    entries.FreeBlob(&blob);
    entryFailed = true;
    return;
  }
  errno = 0;
  const bool written = WriteWholeFile(partPath.c_str(), blob);
  entries.FreeBlob(&blob);
  if (!written) {
    // WriteWholeFile has removed what it created; anything else at that path is not ours
    ReportError("cannot write '%s': %s", Printable(partPath).c_str(), Reason(errno, "a write failed"));
    entryFailed = true;
    return;
  }
  errno = 0;
  if (!MoveReplacing(partPath.c_str(), outputPath.c_str())) {
    ReportError("cannot put '%s' in place of '%s': %s", Printable(partPath).c_str(),
                Printable(outputPath).c_str(), Reason(errno, "the move failed"));
    (void)std::remove(partPath.c_str());
    entryFailed = true;
  }
}

int UnpackArchive(const char* directory, const char* baseName) {
  const std::string archivePath = std::string(directory) + baseName + kArchiveExtension;
  if (!Fits(archivePath)) {
    ReportError("cannot open the archive '%s': the path is longer than %zu bytes", archivePath.c_str(),
                kMaxPath - 1);
    return kExitNotFound;
  }
  errno = 0;
  Archive archive(archivePath.c_str(), /*create=*/false);
  if (!archive.IsOpen()) {
    // without a path the file could not even be opened for reading and writing
    ReportError("cannot open the archive '%s': %s", archivePath.c_str(),
                archive.Path() == nullptr ? Reason(errno, "it cannot be opened for reading and writing")
                                          : "it is not a well-formed archive");
    return kExitArchiveFailed;
  }
  entryFailed = false;
  const std::string outputPrefix = archivePath.substr(0, archivePath.size() - std::strlen(kArchiveExtension));
  outputKeys.clear();
  archive.VisitNames(
      [&outputPrefix](const char* name) { outputKeys.insert(PathKey((outputPrefix + name).c_str())); });
  const std::int32_t fileCount = archive.ForEach(ExtractEntryToFile);
  const std::int32_t originalBytes = archive.TotalOriginalSize();
  PrintStatistics(archive.FileLength(), originalBytes, fileCount);
  return entryFailed ? kExitArchiveFailed : kExitOk;
}

}  // namespace tovrel
