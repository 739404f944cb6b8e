// Writing an archive anew: header, directory and every stream go into a new temporary file beside the
// archive, which is flushed to disk and only then put in the archive's place by one rename. Until that
// last step the archive file is untouched, and a save that fails anywhere leaves it so.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/archive_format.h"
#include "core/whole_file.h"
#include "platform/platform.h"

namespace tovrel {
namespace {

// Where an entry's stream lives, kept to undo a failed save.
struct StreamPlace {
  ArchiveEntry* entry;
  std::uint32_t dataOffset;
  std::uint32_t storedSize;
};

void AppendFixed32(std::string* out, std::uint32_t value) {
  char bytes[4];
  EncodeFixed32(bytes, value);
  out->append(bytes, 4);
}

}  // namespace

bool Archive::WriteArchive(std::FILE* newFile) {
  std::string header(kArchiveMagic, 4);
  AppendFixed32(&header, static_cast<std::uint32_t>(headerSize_));
  AppendFixed32(&header, static_cast<std::uint32_t>(compressionLevel_));
  AppendFixed32(&header, static_cast<std::uint32_t>(entryCount_));
  if (std::fwrite(header.data(), 1, header.size(), newFile) != header.size()) return false;

  // the directory is small: gather it while the streams go out, then write it in one piece
  std::string directory;
  long dataPosition = headerSize_;
  bool ok = true;
  entries_.Walk([&](NameNode* node) {
    if (!ok) return;
    auto* entry = static_cast<ArchiveEntry*>(node->value);
    ok = std::fseek(newFile, dataPosition, SEEK_SET) == 0 &&
         (entry->data != nullptr ? CompressEntry(newFile, node) : CopyEntry(newFile, node));
    if (!ok) return;
    dataPosition = std::ftell(newFile);
    ok = dataPosition >= 0 && dataPosition <= std::numeric_limits<std::int32_t>::max();
    const std::size_t nameLength = std::strlen(node->name);
    AppendFixed32(&directory, static_cast<std::uint32_t>(nameLength));
    directory.append(node->name, nameLength);
    AppendFixed32(&directory, entry->dataOffset);
    AppendFixed32(&directory, entry->storedSize);
    AppendFixed32(&directory, entry->originalSize);
  });
  // unused directory room is written too (as zeros): with no stream bytes after it, the file would
  // otherwise end before headerSize and no longer open
  const auto directoryArea = static_cast<std::size_t>(headerSize_ - kHeaderSize);
  if (directory.size() < directoryArea) directory.resize(directoryArea, '\0');
  return ok && std::fseek(newFile, kHeaderSize, SEEK_SET) == 0 &&
         std::fwrite(directory.data(), 1, directory.size(), newFile) == directory.size() &&
         !std::ferror(newFile);
}

bool Archive::Save() {
  if (!IsOpen()) return false;
  std::string tempPath;
  std::FILE* newFile = CreateTempFile(path_, &tempPath);
  if (newFile == nullptr) return false;

  std::vector<StreamPlace> places;
  places.reserve(static_cast<std::size_t>(entryCount_));
  entries_.Walk([&](NameNode* node) {
    auto* entry = static_cast<ArchiveEntry*>(node->value);
    places.push_back(StreamPlace{entry, entry->dataOffset, entry->storedSize});
  });
  auto fail = [&]() {
    (void)RemoveFile(tempPath.c_str());  // ours alone: nobody else has that name
    for (const StreamPlace& place : places) {
      place.entry->dataOffset = place.dataOffset;
      place.entry->storedSize = place.storedSize;
    }
    return false;
  };

  // the new file must be complete and on disk before it may take the archive's place
  errno = 0;
  if (!CloseWrittenFile(newFile, WriteArchive(newFile))) return fail();
  // the old file is only read from here on; close it, as an open file cannot be replaced everywhere
  const bool hadFile = file_ != nullptr;
  if (hadFile) (void)std::fclose(file_);
  file_ = nullptr;
  if (!MoveReplacing(tempPath.c_str(), path_)) {
    if (hadFile) file_ = OpenExisting(/*writable=*/true);  // the old archive is still there, untouched
    open_ = file_ != nullptr || !hadFile;
    return fail();
  }
  file_ = OpenExisting(/*writable=*/true);
  open_ = file_ != nullptr;
  return open_;
}

}  // namespace tovrel
