#include "core/name_table.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

#include "core/block_pool.h"

namespace tovrel {

namespace {

// Block-mode pool memory lies one byte past a 4-byte boundary, too loose for a node's pointers. So each
// node takes alignof(NameNode) spare bytes: it sits at the first aligned address strictly after the
// raw one, and the byte just before it holds the distance back (1..alignof) for the release.
constexpr std::size_t kNodeRequest = sizeof(NameNode) + alignof(NameNode);
static_assert(kNodeRequest <= 255, "a node must fit a block-mode size class");
static_assert(alignof(NameNode) <= 255, "the distance must fit its byte");

NameNode* AllocateNode() {
  auto* raw = static_cast<unsigned char*>(PoolAlloc(kNodeRequest));
  if (raw == nullptr) return nullptr;
  const auto misalign = reinterpret_cast<std::uintptr_t>(raw) % alignof(NameNode);
  const auto distance = static_cast<unsigned char>(alignof(NameNode) - misalign);
  unsigned char* place = raw + distance;
  place[-1] = distance;
  return new (place) NameNode{};
}

void ReleaseNode(NameNode* node) {
  auto* place = reinterpret_cast<unsigned char*>(node);
  node->~NameNode();
  PoolFree(place - place[-1]);
}

std::int32_t SignExtended(char c) { return static_cast<std::int8_t>(static_cast<unsigned char>(c)); }

}  // namespace

std::uint32_t HashName(const char* name) {
  // unsigned throughout, so the wrap modulo 2^32 is defined; the first byte seeds and is counted again
  std::uint32_t hash = static_cast<std::uint32_t>(SignExtended(name[0]));
  for (const char* p = name; *p != '\0'; ++p) hash = 3u * hash + static_cast<std::uint32_t>(SignExtended(*p));
  return hash;
}

NameTable::NameTable(std::uint32_t bucketCount)
    : buckets_(new NameNode*[bucketCount]()), bucketCount_(bucketCount) {}

NameTable::~NameTable() {
  for (std::uint32_t b = 0; b < bucketCount_; ++b) {
    while (buckets_[b] != nullptr) {  // newest first
      NameNode* node = buckets_[b];
      buckets_[b] = node->next;
      DestroyNode(node);
    }
  }
  delete[] buckets_;
}

NameNode* NameTable::Find(const char* name) const {
  for (NameNode* node = buckets_[BucketOf(name)]; node != nullptr; node = node->next) {
    if (std::strcmp(node->name, name) == 0) return node;
  }
  return nullptr;
}

NameNode* NameTable::Insert(const char* name, EntryBase* value) {
  const std::uint32_t bucket = BucketOf(name);
  // the name is copied before the node is taken, so a failing new[] leaves no pool memory behind
  const std::size_t length = std::strlen(name);
  std::unique_ptr<char[]> copy(new char[length + 1]);
  std::memcpy(copy.get(), name, length + 1);
  NameNode* node = AllocateNode();
  if (node == nullptr) return nullptr;  // value stays the caller's
  node->name = copy.release();
  node->value = value;
  node->next = buckets_[bucket];
  node->borrowed = false;
  buckets_[bucket] = node;
  return node;
}

void NameTable::Remove(const char* name) {
  NameNode** link = &buckets_[BucketOf(name)];
  while (*link != nullptr) {
    NameNode* node = *link;
    if (std::strcmp(node->name, name) == 0) {
      *link = node->next;
      DestroyNode(node);
      return;
    }
    link = &node->next;
  }
}

void NameTable::DestroyNode(NameNode* node) {
  delete[] node->name;
  if (node->value != nullptr && !node->borrowed) delete node->value;
  ReleaseNode(node);
}

}  // namespace tovrel
