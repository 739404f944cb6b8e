#include "core/block_pool.h"

#include <cstdlib>
#include <cstring>
#include <memory>

namespace tovrel {

BlockPool* gPool = nullptr;

namespace {

constexpr std::uint32_t kLargestBlockRequest = 4 * kSizeClassCount - 1;  // 255

// The link of a released chunk lives in the chunk's own first bytes, over the tag. Chunk starts are
// only 4-aligned, so the pointer is copied bytewise rather than stored through a cast.
unsigned char* ReadLink(const unsigned char* chunk) {
  unsigned char* link;
  std::memcpy(&link, chunk, sizeof link);
  return link;
}

void WriteLink(unsigned char* chunk, unsigned char* link) { std::memcpy(chunk, &link, sizeof link); }

PoolBlock* NewBlock(PoolBlock* previous) {
  // plain new: the 64 MiB data area is left uninitialised, so untouched pages cost nothing
  PoolBlock* block = new PoolBlock;
  block->cursor = block->data;
  block->previous = previous;
  return block;
}

}  // namespace

std::size_t PoolChunkSize(std::uint32_t size) {
  const std::size_t chunk = 4 * (std::size_t{size >> 2} + 1);
  // a released chunk must hold its free-list link: where pointers are 8 bytes wide, class-0 chunks
  // grow from 4 to 8 bytes (every larger class is already at least 8)
  return chunk < sizeof(unsigned char*) ? sizeof(unsigned char*) : chunk;
}

void CreatePool(std::int32_t mode) {
  if (gPool != nullptr) return;
  // the holder gives the pool object back if the first block cannot be had
  std::unique_ptr<BlockPool> pool(new BlockPool{});  // no block, empty free lists, zero counts
  pool->mode = mode;
  if (mode != kDirectHeapMode) pool->currentBlock = NewBlock(nullptr);
  gPool = pool.release();
}

void DestroyPool() {
  BlockPool* pool = gPool;
  gPool = nullptr;
  if (pool == nullptr) return;
  while (pool->currentBlock != nullptr) {  // newest block first
    PoolBlock* block = pool->currentBlock;
    pool->currentBlock = block->previous;
    delete block;
  }
  delete pool;
}

void* PoolAlloc(std::uint32_t size) {
  BlockPool* pool = gPool;
  if (pool->mode == kDirectHeapMode) return std::malloc(size);
  // no class holds a larger piece; refuse it rather than index past the class arrays
  if (size > kLargestBlockRequest) return nullptr;

  const std::uint32_t sizeClass = size >> 2;
  const auto tag = static_cast<unsigned char>(sizeClass);
  ++pool->liveCounts[sizeClass];

  // reuse the most recently released chunk of this class
  unsigned char* chunk = pool->freeLists[sizeClass];
  if (chunk != nullptr) {
    pool->freeLists[sizeClass] = ReadLink(chunk);
    chunk[0] = tag;  // the link covered it
    return chunk + 1;
  }

  // otherwise carve a fresh chunk; an exact fit at the end of the data area still counts
  const std::size_t chunkSize = PoolChunkSize(size);
  PoolBlock* block = pool->currentBlock;
  const auto left = static_cast<std::size_t>(block->data + kBlockDataSize - block->cursor);
  if (chunkSize > left) {
    block = NewBlock(block);
    pool->currentBlock = block;
  }
  chunk = block->cursor;
  block->cursor += chunkSize;
  chunk[0] = tag;
  return chunk + 1;
}

void PoolFree(void* p) {
  if (p == nullptr) return;
  BlockPool* pool = gPool;
  if (pool->mode == kDirectHeapMode) {
    std::free(p);
    return;
  }
  unsigned char* chunk = static_cast<unsigned char*>(p) - 1;
  const unsigned char sizeClass = chunk[0];
  --pool->liveCounts[sizeClass];
  WriteLink(chunk, pool->freeLists[sizeClass]);
  pool->freeLists[sizeClass] = chunk;
}

}  // namespace tovrel
