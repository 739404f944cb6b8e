// The ".ssav" archive layout. Every integer is 4 bytes little-endian, fields follow each other unpadded,
// offsets are absolute, and every offset, size and length stays below 2^31.
//
//   header (16 bytes)   magic "MXPQ" | headerSize i32 | compressionLevel i32 | entryCount i32
//   directory           entryCount records from offset 16 up to headerSize:
//                         nameLength u32 | name (no terminator) | dataOffset u32 | storedSize u32 |
//                         originalSize u32
//   data                one complete zlib stream per entry, storedSize bytes at dataOffset, inflating
//                       to exactly originalSize bytes
//
// headerSize = 16 + the sum of (16 + nameLength) over the records. Writers put the streams in record
// order from headerSize on, back to back; readers find them through dataOffset and storedSize only.
#ifndef TOVREL_ARCHIVE_ARCHIVE_FORMAT_H_
#define TOVREL_ARCHIVE_ARCHIVE_FORMAT_H_

#include <cstdint>

namespace tovrel {

constexpr char kArchiveMagic[4] = {'M', 'X', 'P', 'Q'};
constexpr char kArchiveExtension[] = ".ssav";
constexpr char kSaveExtension[] = ".sav";
constexpr std::int32_t kHeaderSize = 16;
constexpr std::int32_t kRecordFixedSize = 16;
constexpr std::int32_t kDefaultCompressionLevel = 6;
constexpr std::uint32_t kMaxEntryNameLength = 267;
constexpr std::uint32_t kBucketCount = 131;

// The most bytes one stored byte can inflate to: deflate's best ratio is a little under 1032 to 1.
constexpr std::uint64_t kMaxInflateRatio = 1032;

struct ArchiveHeader {
  char magic[4];
  std::int32_t headerSize;
  std::int32_t compressionLevel;
  std::int32_t entryCount;
};

struct DirectoryRecord {
  std::uint32_t nameLength;
  const char* name;  // nameLength bytes, not terminated
  std::uint32_t dataOffset;
  std::uint32_t storedSize;
  std::uint32_t originalSize;
};

inline void EncodeFixed32(char* dst, std::uint32_t value) {
  dst[0] = static_cast<char>(value & 0xFF);
  dst[1] = static_cast<char>((value >> 8) & 0xFF);
  dst[2] = static_cast<char>((value >> 16) & 0xFF);
  dst[3] = static_cast<char>((value >> 24) & 0xFF);
}

inline std::uint32_t DecodeFixed32(const char* src) {
  const auto* p = reinterpret_cast<const unsigned char*>(src);
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace tovrel

#endif  // TOVREL_ARCHIVE_ARCHIVE_FORMAT_H_
