// Moving one entry's bytes between memory and the archive's zlib streams: Extract inflates a stored
// stream (or copies an in-memory entry), CompressEntry deflates an in-memory entry into a new archive
// file, CopyEntry copies a stored stream into one unchanged.
#include <zlib.h>

#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "archive/archive.h"
#include "platform/platform.h"

namespace tovrel {
namespace {

constexpr long kMaxOffset = std::numeric_limits<std::int32_t>::max();

// The position of `file` as an archive offset, or false when it cannot be had or exceeds 2^31 - 1.
bool CurrentOffset(std::FILE* file, std::uint32_t* offset) {
  const long position = std::ftell(file);
  if (position < 0 || position > kMaxOffset) return false;
  *offset = static_cast<std::uint32_t>(position);
  return true;
}

}  // namespace

bool Archive::Extract(const char* name, Blob* out) {
  const NameNode* node = entries_.Find(name);
  if (node == nullptr) return false;
  const auto* entry = static_cast<const ArchiveEntry*>(node->value);
  const std::uint32_t size = entry->originalSize;
  // a hostile archive may claim up to 2 GiB: a refused allocation fails this entry alone
  unsigned char* buffer = new (std::nothrow) unsigned char[size];
  if (buffer == nullptr) {
    RecordFailure("not enough memory for its " + std::to_string(size) + " bytes");
    *out = Blob{};
    return false;
  }
  out->buffer = buffer;
  out->length = static_cast<std::int32_t>(size);
  if (entry->data != nullptr) {
    if (size > 0) std::memcpy(buffer, entry->data, size);
    return true;
  }
  const char* damage = InflateStream(*entry, buffer);
  if (damage == nullptr) return true;
  RecordFailure(damage);
  delete[] buffer;
  *out = Blob{};
  return false;
}

bool Archive::Verify(const char* name) {
  const NameNode* node = entries_.Find(name);
  if (node == nullptr) {
    RecordFailure("there is no such entry");
    return false;
  }
  const auto* entry = static_cast<const ArchiveEntry*>(node->value);
  if (entry->data != nullptr) return true;  // in memory, not yet stored: nothing can be damaged
  const char* damage = InflateStream(*entry, nullptr);
  if (damage != nullptr) RecordFailure(damage);
  return damage == nullptr;
}

const char* Archive::InflateStream(const ArchiveEntry& entry, unsigned char* buffer) {
  // after a save whose reopening failed there is no file to read from
  if (file_ == nullptr) return "the archive file is no longer open";
  z_stream strm{};  // null zalloc/zfree/opaque: zlib's own allocator
  if (inflateInit(&strm) != Z_OK) return "the decompressor cannot start (not enough memory)";
  if (std::fseek(file_, static_cast<long>(entry.dataOffset), SEEK_SET) != 0) {
    (void)inflateEnd(&strm);
    return "its data cannot be read";
  }

  unsigned char in[kChunkSize];
  unsigned char window[kChunkSize];  // receives the bytes when there is no buffer to keep them
  unsigned char spill;               // catches any byte past originalSize
  const std::uint32_t size = entry.originalSize;
  std::uint32_t remaining = entry.storedSize;
  std::uint32_t produced = 0;
  int ret = Z_OK;
  const char* damage = nullptr;  // why the stream is not whole, once known
  // inflate one stored piece at a time, straight into the buffer when there is one
  do {
    const std::uint32_t piece = remaining < kChunkSize ? remaining : kChunkSize;
    // a read that falls short means the file ends inside the stream
    if (std::fread(in, 1, piece, file_) != piece || std::ferror(file_)) {
      damage = "its data cannot be read";
      break;
    }
    remaining -= piece;
    strm.next_in = in;
    strm.avail_in = piece;
    while (strm.avail_in > 0 && ret != Z_STREAM_END) {
      const std::uint32_t room = size - produced;
      const std::uint32_t offered = buffer != nullptr || room < kChunkSize ? room : kChunkSize;
      strm.next_out = room == 0 ? &spill : buffer != nullptr ? buffer + produced : window;
      strm.avail_out = room == 0 ? 1 : offered;
      ret = inflate(&strm, Z_NO_FLUSH);
      if (ret == Z_DATA_ERROR) {
        // zlib checks the Adler-32 trailer itself and says so in these words
        damage = strm.msg != nullptr && std::strcmp(strm.msg, "incorrect data check") == 0
                     ? "its checksum does not match"
                     : "its data is damaged";
      } else if (ret == Z_NEED_DICT || ret == Z_STREAM_ERROR) {
        damage = "its data is damaged";
      } else if (ret == Z_MEM_ERROR) {
        damage = "not enough memory to decompress it";
      } else if (room == 0 && strm.avail_out == 0) {
        damage = "it holds more bytes than its recorded size";
      }
      if (damage != nullptr) break;
      if (room > 0) produced += offered - strm.avail_out;
    }
  } while (damage == nullptr && ret != Z_STREAM_END && remaining > 0);
  (void)inflateEnd(&strm);
  // a stream that ends early, or never ends, is corrupt, not short
  if (damage == nullptr && ret != Z_STREAM_END) damage = "its data is cut short";
  if (damage == nullptr && produced != size) damage = "it holds fewer bytes than its recorded size";
  return damage;
}

bool Archive::CompressEntry(std::FILE* newFile, NameNode* node) {
  auto* entry = static_cast<ArchiveEntry*>(node->value);
  if (!CurrentOffset(newFile, &entry->dataOffset)) return false;
  z_stream strm{};  // null zalloc/zfree/opaque: zlib's own allocator
  if (deflateInit(&strm, compressionLevel_) != Z_OK) {
    RecordFailure("the compressor cannot start (not enough memory)");
    return false;
  }

  unsigned char window[kChunkSize];
  unsigned char* source = entry->data;
  std::uint32_t remaining = entry->originalSize;
  std::uint64_t stored = 0;
  int flush;
  do {  // the last piece may be exactly kChunkSize long, or empty
    const std::uint32_t piece = remaining <= kChunkSize ? remaining : kChunkSize;
    flush = remaining <= kChunkSize ? Z_FINISH : Z_NO_FLUSH;
    strm.next_in = source;  // deflate only reads its input, so it reads the entry in place
    strm.avail_in = piece;
    source += piece;
    remaining -= piece;
    do {  // run deflate until it stops filling the whole window
      strm.next_out = window;
      strm.avail_out = kChunkSize;
      const int ret = deflate(&strm, flush);
      const std::uint32_t have = kChunkSize - strm.avail_out;
      stored += have;
      if (ret == Z_STREAM_ERROR || std::fwrite(window, 1, have, newFile) != have || std::ferror(newFile) ||
          stored > static_cast<std::uint64_t>(kMaxOffset)) {
        (void)deflateEnd(&strm);
        return false;
      }
    } while (strm.avail_out == 0);
  } while (flush != Z_FINISH);
  (void)deflateEnd(&strm);
  entry->storedSize = static_cast<std::uint32_t>(stored);
  return true;
}

bool Archive::CopyEntry(std::FILE* newFile, NameNode* node) {
  auto* entry = static_cast<ArchiveEntry*>(node->value);
  std::uint32_t newOffset;
  if (file_ == nullptr || !CurrentOffset(newFile, &newOffset)) return false;
  // read the old offset before it is replaced by the new one
  if (std::fseek(file_, static_cast<long>(entry->dataOffset), SEEK_SET) != 0) return false;
  entry->dataOffset = newOffset;

  unsigned char window[kChunkSize];
  std::uint32_t remaining = entry->storedSize;
  while (remaining > 0) {
    const std::uint32_t piece = remaining < kChunkSize ? remaining : kChunkSize;
    if (std::fread(window, 1, piece, file_) != piece || std::fwrite(window, 1, piece, newFile) != piece) {
      return false;
    }
    remaining -= piece;
  }
  return !std::ferror(file_) && !std::ferror(newFile);
}

}  // namespace tovrel
