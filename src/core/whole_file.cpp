#include "core/whole_file.h"

#include <cerrno>
#include <cstdio>
#include <new>
#include <string>

#include "platform/platform.h"

namespace tovrel {

bool ReadWholeFile(const char* path, Blob* blob) {
  std::FILE* file = OpenFile(path, "rb");
  if (file == nullptr) return false;

  // a size the query cannot report, or one past the signed 32-bit count, is refused
  const std::int64_t size = FileSize(file);
  if (size < 0 || static_cast<std::uint64_t>(size) > kMaxFileSize) {
    RecordFailure(size < 0 ? "its size cannot be read" : "it is 2 GiB or larger");
    (void)std::fclose(file);
    return false;
  }
  const auto length = static_cast<std::uint32_t>(size);

  // read into a local buffer; the Blob changes only once every byte has arrived
  unsigned char* buffer = new (std::nothrow) unsigned char[length];
  if (buffer == nullptr) {
    RecordFailure("not enough memory for its " + std::to_string(length) + " bytes");
    (void)std::fclose(file);
    return false;
  }
  unsigned char* cursor = buffer;
  std::uint32_t remaining = length;
  errno = 0;
  while (remaining != 0) {
    const std::uint32_t piece = remaining < kChunkSize ? remaining : kChunkSize;
    if (std::fread(cursor, 1, piece, file) != piece) break;  // shrunk or failed: caught below
    cursor += piece;
    remaining -= piece;
  }
  const bool readFailed = remaining != 0 || std::ferror(file) != 0;
  if (readFailed) RecordErrno("it became shorter while it was read");
  if (std::fclose(file) != 0 || readFailed) {
    delete[] buffer;
    return false;
  }
  blob->buffer = buffer;
  blob->length = static_cast<std::int32_t>(length);
  return true;
}

bool CloseWrittenFile(std::FILE* file, bool written) {
  written = written && std::ferror(file) == 0;
  if (!written) RecordErrno("a write failed");
  // a full disk often shows only when the buffered bytes are pushed out, or at close
  written = written && FlushToDisk(file);
  if (std::fclose(file) != 0 && written) {
    RecordErrno("closing the file failed");
    written = false;
  }
  return written;
}

bool WriteWholeFile(const char* path, const Blob& blob) {
  if (blob.length < 0 || (blob.length > 0 && blob.buffer == nullptr)) return false;
  std::string tempPath;
  std::FILE* file = CreateTempFile(path, &tempPath);
  if (file == nullptr) return false;
  // each piece goes straight from the Blob to the system: a stream buffer would only copy it once more
  // and split it into two writes; if the stream keeps its buffer, the bytes are the same
  (void)std::setvbuf(file, nullptr, _IONBF, 0);
  ReserveFileSpace(file, blob.length);

  const unsigned char* cursor = blob.buffer;
  auto remaining = static_cast<std::uint32_t>(blob.length);
  bool ok = true;
  errno = 0;
  while (ok && remaining != 0) {
    const std::uint32_t piece = remaining < kChunkSize ? remaining : kChunkSize;
    ok = std::fwrite(cursor, 1, piece, file) == piece;
    cursor += piece;
    remaining -= piece;
  }
  ok = CloseWrittenFile(file, ok) && MoveReplacing(tempPath.c_str(), path);
  if (!ok) (void)RemoveFile(tempPath.c_str());  // ours alone: nobody else has that name
  return ok;
}

}  // namespace tovrel
