// Types and constants shared by every module: the byte buffer that carries a whole file or entry, and
// the piece size of every file, copy and zlib loop.
#ifndef TOVREL_CORE_COMMON_H_
#define TOVREL_CORE_COMMON_H_

#include <cstdint>

namespace tovrel {

// The largest piece moved by one read, write or zlib call, and the size of every window.
constexpr std::uint32_t kChunkSize = 16384;

// The largest file or entry the tool handles: lengths are carried as signed 32-bit counts.
constexpr std::uint64_t kMaxFileSize = 0x7FFFFFFF;

// A byte buffer and its length. The buffer comes from new[] and belongs to whoever holds the Blob, who
// releases it with IArchive::FreeBlob. An empty Blob has a null buffer and length 0.
struct Blob {
  unsigned char* buffer = nullptr;
  std::int32_t length = 0;
};

}  // namespace tovrel

#endif  // TOVREL_CORE_COMMON_H_
