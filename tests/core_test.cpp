// The core pieces the end-to-end tests cannot see: the pool's layout, the name table's hash and walk
// order, and the scrambler against its definition.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "core/block_pool.h"
#include "core/name_table.h"
#include "core/scrambler.h"
#include "test_util.h"

namespace tovrel::test {
namespace {

using Names = std::vector<std::string>;

unsigned char* Alloc(std::uint32_t size) { return static_cast<unsigned char*>(PoolAlloc(size)); }

// A block-mode pool of its own for each test: the tool runs in direct-heap mode, so only these tests see
// block mode's layout.
class BlockModeTest : public ::testing::Test {
 protected:
  BlockModeTest() { CreatePool(/*mode=*/0); }
  ~BlockModeTest() override { DestroyPool(); }
};

TEST_F(BlockModeTest, PoolCarvesTaggedChunksBlockAfterBlockAndReusesTheLatestReleased) {
  CreatePool(kDirectHeapMode);  // a pool exists: nothing changes
  PoolBlock* first = gPool->currentBlock;
  for (std::size_t i = 0; i + 1 < kBlockDataSize / 256; ++i) Alloc(255);
  EXPECT_EQ(Alloc(252), first->data + kBlockDataSize - 255);  // an exact fit ends the block
  // the next request starts a new block; class 0 is widened to hold the free-list link
  const std::ptrdiff_t link = sizeof(void*);
  const std::pair<std::uint32_t, std::ptrdiff_t> kFresh[] = {
      {0, 1}, {3, 1 + link}, {16, 1 + 2 * link}, {16, 21 + 2 * link}, {20, 41 + 2 * link}};
  std::vector<unsigned char*> got;
  for (const auto& [size, at] : kFresh) {
    got.push_back(Alloc(size));
    EXPECT_EQ(got.back() - gPool->currentBlock->data, at) << size;
    EXPECT_EQ(got.back()[-1], size / 4) << size;  // the tag is the size class
  }
  ASSERT_EQ(gPool->currentBlock->previous, first);
  PoolFree(got[2]);
  EXPECT_EQ(Alloc(19), got[2]);
  EXPECT_EQ(got[2][-1], 4);  // tag rewritten over the link
  for (const int i : {0, 1}) PoolFree(got[i]);
  EXPECT_EQ(Alloc(2), got[1]);  // last in, first out
  EXPECT_EQ(Alloc(1), got[0]);
  EXPECT_EQ(PoolAlloc(256), nullptr);
}

// Adds its name to a shared log when destroyed.
struct LoggedEntry : EntryBase {
  LoggedEntry(Names* log, const char* name) : log_(log), name_(name) {}
  ~LoggedEntry() override { log_->push_back(name_); }
  Names* log_;
  std::string name_;
};

TEST_F(BlockModeTest, NameTableWalksBucketsUpwardNewestFirstAndRemovesTheNewestEqualName) {
  const std::pair<const char*, std::uint32_t> kHashes[] = {
      {".sav", 6412}, {".jpg", 6361}, {".bmp", 6289}, {".bit", 6281}, {"\xE9", 4294967204u}, {"", 0}};
  for (const auto& [name, hash] : kHashes) EXPECT_EQ(HashName(name), hash) << name;
  Names log;
  LoggedEntry borrowed(&log, "borrowed");
  {
    NameTable table(131);
    // buckets 73, 124, 0, 124 and 1: neither the insertion order nor its reverse
    for (const char* name : {".jpg", ".sav", "", ".bit", ".bmp"})
      table.Insert(name, new LoggedEntry(&log, name));
    table.Insert(".txt", &borrowed)->borrowed = true;
    table.Insert(".jpg", new LoggedEntry(&log, "newer"));
    Names walked;
    table.Walk([&](NameNode* node) { walked.push_back(node->name); });
    EXPECT_EQ(walked, (Names{"", ".bmp", ".txt", ".jpg", ".jpg", ".bit", ".sav"}));
    // block-mode memory is 4-aligned plus one: the table must still align its nodes
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(table.Find(".sav")) % alignof(NameNode), 0u);
    // the newest ".jpg", and ".sav", second in its chain; names differing in case or length stay
    for (const char* name : {".jpg", ".sav", ".SAV", ".sa"}) table.Remove(name);
    EXPECT_EQ(log, (Names{"newer", ".sav"}));
  }
  EXPECT_EQ(log, (Names{"newer", ".sav", "", ".bmp", ".jpg", ".bit"}));
}

TEST(ScramblerTest, MatchesTheStraightLoop) {
  // key 00020003: products 6, 1144, 01257342 give masks 0005, 1143, 7264
  EXPECT_EQ(Scrambled("ABC", 0x00020003), "\x44\x01\x27");
  std::mt19937 random(20240611);
  // a zero or all-ones half multiplies to 0 or wraps the low half at once; then the tool's key, random keys
  const std::uint32_t kKeys[] = {0, 0xFFFFFFFF, 0x0000FFFF, 0xFFFF0000, kScrambleKey};
  for (std::size_t length = 0; length <= 64; ++length) {
    const std::uint32_t key = length < 5 ? kKeys[length] : random();
    // random bytes, or mostly zeros, which drive the state round short cycles
    std::string data(length == 64 ? 1 << 20 : length * 5, '\0');
    for (char& byte : data) byte = static_cast<char>(length % 3 == 0 && random() % 8 != 0 ? 0 : random());
    std::string straight = data;  // the transform as defined, byte after byte: the yardstick
    std::uint32_t in = key >> 16, out = key & 0xFFFF;
    for (char& c : straight) {
      const std::uint32_t product = in * out, mask = (((product & 0xFFFF) - 1) ^ (product >> 16)) & 0xFFFF;
      in = (mask & 0xFF00) | static_cast<unsigned char>(c);
      c = static_cast<char>(static_cast<unsigned char>(c) ^ (mask & 0xFF));
      out = (mask & 0xFF00) | static_cast<unsigned char>(c);
    }
    ASSERT_EQ(Scrambled(data, key), straight) << "length " << data.size() << ", key " << key;
  }
}

}  // namespace
}  // namespace tovrel::test
