#include "core/whole_file.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "platform/platform.h"

namespace tovrel {

namespace {

// Takes away the file a failed write leaves half-written, but only a regular file, which this write
// created or truncated; a device such as /dev/full was merely written to and must stay.
void RemoveHalfWritten(const char* path) {
  std::error_code ec;
  if (std::filesystem::is_regular_file(path, ec)) (void)std::remove(path);
}

}  // namespace

bool ReadWholeFile(const char* path, Blob* blob) {
  if (IsDirectory(path)) return false;  // some systems open a directory for reading
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;

  // measure; a position the query cannot report, or one past the signed 32-bit count, is refused
  long end = -1;
  if (std::fseek(file, 0, SEEK_END) == 0) end = std::ftell(file);
  if (end < 0 || static_cast<std::uint64_t>(end) > kMaxFileSize || std::fseek(file, 0, SEEK_SET) != 0) {
    (void)std::fclose(file);
    return false;
  }
  const auto length = static_cast<std::uint32_t>(end);

  // read into a local buffer; the Blob changes only once every byte has arrived
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[length]);
  unsigned char* cursor = buffer.get();
  std::uint32_t remaining = length;
  while (remaining != 0) {
    const std::uint32_t piece = remaining < kChunkSize ? remaining : kChunkSize;
    if (std::fread(cursor, 1, piece, file) != piece) break;  // shrunk or failed: caught below
    cursor += piece;
    remaining -= piece;
  }
  const bool readFailed = remaining != 0 || std::ferror(file) != 0;
  if (std::fclose(file) != 0 || readFailed) return false;

  blob->buffer = buffer.release();
  blob->length = static_cast<std::int32_t>(length);
  return true;
}

bool WriteWholeFile(const char* path, const Blob& blob) {
  if (blob.length < 0 || (blob.length > 0 && blob.buffer == nullptr)) return false;
  if (IsDirectory(path)) return false;
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  // each piece goes straight from the Blob to the system: a stream buffer would only copy it once more
  // and split it into two writes; if the stream keeps its buffer, the bytes are the same
  (void)std::setvbuf(file, nullptr, _IONBF, 0);

  const unsigned char* cursor = blob.buffer;
  auto remaining = static_cast<std::uint32_t>(blob.length);
  bool ok = true;
  while (ok && remaining != 0) {
    const std::uint32_t piece = remaining < kChunkSize ? remaining : kChunkSize;
    ok = std::fwrite(cursor, 1, piece, file) == piece;
    cursor += piece;
    remaining -= piece;
  }
  // a full disk often shows only when the buffered bytes are pushed out, or at close
  ok = ok && std::ferror(file) == 0 && FlushToDisk(file);
  ok = std::fclose(file) == 0 && ok;
  if (!ok) RemoveHalfWritten(path);
  return ok;
}

}  // namespace tovrel
