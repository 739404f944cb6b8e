// The process-wide allocator for small pieces of memory, reached through gPool. In direct-heap mode
// (the mode the tool runs in) it is malloc and free. In block mode it carves 4-byte-step size classes
// out of 64 MiB blocks, keeps released chunks on per-class free lists and returns all memory at once
// when destroyed. Block-mode addresses lie one byte past a tag, so they carry no alignment: callers
// that place objects in pool memory align them themselves (see NameTable).
#ifndef TOVREL_CORE_BLOCK_POOL_H_
#define TOVREL_CORE_BLOCK_POOL_H_

#include <cstddef>
#include <cstdint>

namespace tovrel {

constexpr std::int32_t kDirectHeapMode = 1;
constexpr int kSizeClassCount = 64;
constexpr std::size_t kBlockDataSize = std::size_t{64} * 1024 * 1024;

// One 64 MiB block; chunks are carved from data[0] upward. Defined here so tests can check addresses.
struct PoolBlock {
  unsigned char data[kBlockDataSize];
  unsigned char* cursor;  // first byte not yet carved; may be data + kBlockDataSize
  PoolBlock* previous;    // the block that was current before this one, or null
};

struct BlockPool {
  std::int32_t mode;
  PoolBlock* currentBlock;                    // newest block; null in direct-heap mode
  unsigned char* freeLists[kSizeClassCount];  // most recently released chunk of each class
  std::int32_t liveCounts[kSizeClassCount];   // chunks handed out minus released, block mode only
};

// The one pool, or null while none exists.
extern BlockPool* gPool;

// Creates the pool in `mode` (kDirectHeapMode, or any other value for block mode) unless one exists, in
// which case nothing changes. Block mode takes its first block at once.
void CreatePool(std::int32_t mode);

// Destroys the pool, if any, and leaves gPool null. Block-mode chunks still handed out vanish with their
// blocks; direct-heap pieces still handed out stay allocated.
void DestroyPool();

// Returns at least `size` usable bytes, or null when direct-heap mode finds the heap exhausted or
// block mode is asked for more than 255 bytes (no size class holds that much).
// Requires: a pool exists.
void* PoolAlloc(std::uint32_t size);

// Gives back `p`, an address from PoolAlloc of the same pool, or null (which does nothing).
// Requires: a pool exists.
void PoolFree(void* p);

// The size of the chunk that serves a block-mode request of `size` bytes, tag byte included.
std::size_t PoolChunkSize(std::uint32_t size);

}  // namespace tovrel

#endif  // TOVREL_CORE_BLOCK_POOL_H_
