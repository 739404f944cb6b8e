// The core pieces the end-to-end tests cannot see: the pool's layout, the name table's hash and walk
// order, the scrambler against its definition, and whole-file moves across piece boundaries.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/block_pool.h"
#include "core/name_table.h"
#include "core/scrambler.h"
#include "core/whole_file.h"
#include "test_util.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tovrel {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

constexpr std::int32_t kBlockMode = 0;

unsigned char* Alloc(std::uint32_t size) { return static_cast<unsigned char*>(PoolAlloc(size)); }

struct ScopedPool {
  explicit ScopedPool(std::int32_t mode) { CreatePool(mode); }
  ~ScopedPool() { DestroyPool(); }
};

TEST(BlockPoolTest, CarvesTaggedChunksAndReusesTheLatestReleased) {
  ScopedPool pool(kBlockMode);
  CreatePool(kDirectHeapMode);  // a pool exists: nothing changes
  const std::pair<std::uint32_t, std::ptrdiff_t> kFresh[] = {
      {16, 1}, {16, 21}, {20, 41}, {0, 65}, {3, 65 + std::ptrdiff_t{sizeof(void*)}}};
  std::vector<unsigned char*> got;
  for (const auto& [size, at] : kFresh) {
    got.push_back(Alloc(size));
    EXPECT_EQ(got.back() - gPool->currentBlock->data, at) << size;
    EXPECT_EQ(got.back()[-1], size / 4) << size;  // the tag is the size class
  }
  PoolFree(got[0]);
  EXPECT_EQ(Alloc(19), got[0]);
  EXPECT_EQ(got[0][-1], 4);  // tag rewritten over the link
  PoolFree(got[3]);          // class 0 is widened to hold the free-list link
  PoolFree(got[4]);
  EXPECT_EQ(Alloc(2), got[4]);  // last in, first out
  EXPECT_EQ(Alloc(1), got[3]);
  EXPECT_EQ(PoolAlloc(256), nullptr);
}

TEST(BlockPoolTest, ExactFitEndsTheBlockAndTheNextRequestStartsANewOne) {
  ScopedPool pool(kBlockMode);
  PoolBlock* first = gPool->currentBlock;
  for (std::size_t i = 0; i + 1 < kBlockDataSize / 256; ++i) Alloc(255);
  EXPECT_EQ(Alloc(252), first->data + kBlockDataSize - 255);
  unsigned char* next = Alloc(0);
  ASSERT_EQ(gPool->currentBlock->previous, first);
  EXPECT_EQ(next, gPool->currentBlock->data + 1);
}

// Adds its name to a shared log when destroyed.
struct LoggedEntry : EntryBase {
  LoggedEntry(Names* log, const char* name) : log_(log), name_(name) {}
  ~LoggedEntry() override { log_->push_back(name_); }
  Names* log_;
  std::string name_;
};

TEST(NameTableTest, WalksBucketsUpwardNewestFirstAndRemovesTheNewestEqualName) {
  const std::pair<const char*, std::uint32_t> kHashes[] = {
      {".sav", 6412}, {".jpg", 6361}, {".bmp", 6289}, {".bit", 6281}, {"\xE9", 4294967204u}, {"", 0}};
  for (const auto& [name, hash] : kHashes) EXPECT_EQ(HashName(name), hash) << name;
  for (const std::int32_t mode : {kDirectHeapMode, kBlockMode}) {
    SCOPED_TRACE(mode);
    ScopedPool pool(mode);
    Names log;
    LoggedEntry borrowed(&log, "borrowed");
    {
      NameTable table(131);
      // buckets 73, 124, 0, 124 and 1: neither the insertion order nor its reverse
      for (const char* name : {".jpg", ".sav", "", ".bit", ".bmp"})
        table.Insert(name, new LoggedEntry(&log, name));
      table.Insert(".txt", &borrowed)->borrowed = true;
      NameNode* newer = table.Insert(".jpg", new LoggedEntry(&log, "newer"));
      Names walked;
      table.Walk([&](NameNode* node) {
        // block-mode memory is 4-aligned plus one: the table must still align its nodes
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(node) % alignof(NameNode), 0u) << node->name;
        walked.push_back(node->name);
      });
      EXPECT_EQ(walked, (Names{"", ".bmp", ".txt", ".jpg", ".jpg", ".bit", ".sav"}));
      EXPECT_EQ(table.Find(".jpg"), newer);
      for (const char* name : {".jpg", ".sav", ".SAV", ".sa"})
        table.Remove(name);  // ".sav": second in its chain
      EXPECT_EQ(log, (Names{"newer", ".sav"}));
    }
    EXPECT_EQ(log, (Names{"newer", ".sav", "", ".bmp", ".jpg", ".bit"}));
  }
}

std::string Scrambled(std::string bytes, std::uint32_t key) {
  ScrambleSaveData(reinterpret_cast<unsigned char*>(&bytes[0]), static_cast<std::uint32_t>(bytes.size()),
                   key);
  return bytes;
}

// The transform as defined, byte after byte: the yardstick for the fast loop.
std::string StraightScrambled(std::string bytes, std::uint32_t key) {
  std::uint32_t inWord = key >> 16, outWord = key & 0xFFFF;
  for (char& c : bytes) {
    const std::uint32_t product = inWord * outWord;
    const std::uint32_t mask = (((product & 0xFFFF) - 1) ^ (product >> 16)) & 0xFFFF;
    const auto read = static_cast<unsigned char>(c);
    c = static_cast<char>(read ^ (mask & 0xFF));
    inWord = (mask & 0xFF00) | read;
    outWord = (mask & 0xFF00) | static_cast<unsigned char>(c);
  }
  return bytes;
}

TEST(ScramblerTest, MatchesTheStraightLoopAndUndoesItself) {
  // key 00020003: products 6, 1144, 01257342 give masks 0005, 1143, 7264.
  // kScrambleKey: 5E3B*71C4 = 29E0302C, mask 302B^29E0 = 19CB, so a lone byte is XORed with CB.
  EXPECT_EQ(Scrambled("ABC", 0x00020003), "\x44\x01\x27");
  EXPECT_EQ(Scrambled(std::string(1, '\0'), kScrambleKey), "\xCB");
  std::mt19937 random(20240611);
  // a zero or all-ones half multiplies to 0 or wraps the low half at once; then random keys
  const std::uint32_t kKeys[] = {0, 0xFFFFFFFF, 0x0000FFFF, 0xFFFF0000, kScrambleKey};
  for (std::size_t length = 0; length <= 64; ++length) {
    const std::uint32_t key = length < 5 ? kKeys[length] : random();
    // random bytes, or mostly zeros, which drive the state round short cycles
    std::string data(length == 64 ? 1 << 20 : length * 5, '\0');
    for (char& byte : data) byte = static_cast<char>(length % 3 == 0 && random() % 8 != 0 ? 0 : random());
    const std::string scrambled = Scrambled(data, key);
    ASSERT_EQ(scrambled, StraightScrambled(data, key)) << "length " << data.size() << ", key " << key;
    ASSERT_EQ(Scrambled(scrambled, key), data);
  }
}

std::set<std::string> Listing(const test::ScratchDir& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path())) names.insert(entry.path().filename().string());
  return names;
}

TEST(WholeFileTest, RoundTripsAcrossPieceBoundaries) {
  test::ScratchDir dir;
  for (std::size_t length : {0, 1, 16383, 16384, 16385, 2 * 16384 + 1}) {
    SCOPED_TRACE(length);
    const std::string bytes = test::RandomBytes(length, static_cast<std::uint32_t>(length));
    test::WriteBytes(dir.Path("in"), bytes);
    test::WriteBytes(dir.Path("out"), std::string(100000, 'x'));  // longer: replaced whole, not overwritten
    Blob blob;
    ASSERT_TRUE(ReadWholeFile(dir.Path("in").c_str(), &blob));
    EXPECT_TRUE(WriteWholeFile(dir.Path("out").c_str(), blob));
    EXPECT_EQ(test::ReadBytes(dir.Path("out")), bytes);
    delete[] blob.buffer;
  }
  EXPECT_EQ(Listing(dir), (std::set<std::string>{"in", "out"}));
}

TEST(WholeFileTest, RefusalsLeaveTheBlobAndTheFilesAsTheyWere) {
  test::ScratchDir dir;
  fs::create_directory(dir.Path("sub"));
  test::WriteBytes(dir.Path("huge"), "");
  fs::resize_file(dir.Path("huge"), std::uint64_t{1} << 31);  // sparse: costs no disk
  std::vector<std::string> unreadable = {dir.Path("missing"), dir.Path("sub"), dir.Path("huge")};
#ifndef _WIN32
  ASSERT_EQ(mkfifo(dir.Path("fifo").c_str(), 0600), 0);
  fs::create_symlink(dir.Path("missing"), dir.Path("dangling"));
  for (const char* name : {"fifo", "dangling"}) unreadable.push_back(dir.Path(name));
  unreadable.push_back("/dev/full");
  alarm(20);  // a FIFO opened for reading waits for a writer: fail rather than hang
#endif
  unsigned char sentinel = 'a';
  for (const std::string& path : unreadable) {
    Blob blob{&sentinel, 7};
    EXPECT_FALSE(ReadWholeFile(path.c_str(), &blob)) << path;
    EXPECT_TRUE(blob.buffer == &sentinel && blob.length == 7) << path;
  }
#ifndef _WIN32
  alarm(0);
#endif
  // a directory where the file goes, or no directory to hold it: no temporary is left either
  const std::set<std::string> before = Listing(dir);
  for (const char* name : {"sub", "nowhere/a.jpg"})
    EXPECT_FALSE(WriteWholeFile(dir.Path(name).c_str(), Blob{&sentinel, 1}));
  EXPECT_EQ(Listing(dir), before);
}

}  // namespace
}  // namespace tovrel
