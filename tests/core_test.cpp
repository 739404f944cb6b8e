#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/block_pool.h"
#include "core/name_table.h"
#include "core/scrambler.h"
#include "core/whole_file.h"
#include "test_util.h"

#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>
#endif

namespace tovrel {
namespace {

using test::RandomBytes;
using test::ScratchDir;
using test::WriteBytes;
namespace fs = std::filesystem;

constexpr std::int32_t kBlockMode = 0;

unsigned char* Alloc(std::uint32_t size) { return static_cast<unsigned char*>(PoolAlloc(size)); }

// A new pool in `mode` for the object's lifetime.
struct ScopedPool {
  explicit ScopedPool(std::int32_t mode) { CreatePool(mode); }
  ~ScopedPool() { DestroyPool(); }
};

TEST(BlockPoolTest, CarvesTaggedChunksAndReusesReleasedOnes) {
  ScopedPool pool(kBlockMode);
  CreatePool(kDirectHeapMode);  // a pool exists: nothing changes
  ASSERT_NE(gPool->currentBlock, nullptr);
  const auto chunk0 = static_cast<std::ptrdiff_t>(PoolChunkSize(0));
  const std::pair<std::uint32_t, std::ptrdiff_t> kFresh[] = {
      {16, 1}, {16, 21}, {20, 41}, {0, 65}, {3, 65 + chunk0}};
  std::vector<unsigned char*> got;
  for (const auto& [size, at] : kFresh) {
    got.push_back(Alloc(size));
    EXPECT_EQ(got.back() - gPool->currentBlock->data, at) << size;
    EXPECT_EQ(got.back()[-1], size / 4) << size;  // the tag: the size class
  }
  PoolFree(got[0]);
  EXPECT_EQ(Alloc(19), got[0]);  // same class, most recent release
  EXPECT_EQ(got[0][-1], 4);      // tag rewritten over the link
  // a released class-0 chunk keeps its free-list link to itself
  std::memcpy(got[4], "xyz", 3);
  PoolFree(got[3]);
  EXPECT_EQ(std::memcmp(got[4], "xyz", 3), 0);
  PoolFree(got[4]);
  EXPECT_EQ(Alloc(2), got[4]);  // last in, first out
  EXPECT_EQ(Alloc(1), got[3]);
  EXPECT_EQ(PoolAlloc(256), nullptr);  // beyond every class
}

TEST(BlockPoolTest, ExactFitEndsBlockThenNextRequestStartsNewOne) {
  ScopedPool pool(kBlockMode);
  PoolBlock* first = gPool->currentBlock;
  for (std::size_t i = 0; i + 1 < kBlockDataSize / 256; ++i) Alloc(255);
  EXPECT_EQ(Alloc(252), first->data + kBlockDataSize - 255);  // the final 256 bytes exactly
  unsigned char* next = Alloc(0);
  ASSERT_EQ(gPool->currentBlock->previous, first);
  EXPECT_EQ(next, gPool->currentBlock->data + 1);
}

using Names = std::vector<std::string>;

// Adds its name to a shared log when destroyed.
struct LoggedEntry : EntryBase {
  LoggedEntry(Names* log, const char* name) : log_(log), name_(name) {}
  ~LoggedEntry() override { log_->push_back(name_); }
  Names* log_;
  std::string name_;
};

Names WalkNames(const NameTable& table) {
  Names names;
  table.Walk([&](NameNode* node) {
    // block-mode memory is only 4-aligned plus one: the table must still place nodes aligned
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(node) % alignof(NameNode), 0u) << node->name;
    names.push_back(node->name);
  });
  return names;
}

// Every table behaviour, with nodes from the heap and from blocks.
class NameTableTest : public ::testing::TestWithParam<std::int32_t> {
 protected:
  ScopedPool pool_{GetParam()};
  Names log_;
};

TEST_P(NameTableTest, WorkedExamplesLandInTheirBuckets) {
  // name, hash, bucket of 131
  const std::tuple<const char*, std::uint32_t, std::uint32_t> kCases[] = {
      {".sav", 6412, 124}, {".jpg", 6361, 73},  {".ssav", 19453, 65},
      {".bmp", 6289, 1},   {".bit", 6281, 124}, {"\xE9", 4294967204u, 25},
      {"", 0, 0}};
  for (const auto& [name, hash, bucket] : kCases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(HashName(name), hash);
    NameTable table(131);
    table.Insert(name, nullptr);
    ASSERT_NE(table.Head(bucket), nullptr);
    EXPECT_STREQ(table.Head(bucket)->name, name);
  }
}

TEST_P(NameTableTest, WalksAndDestroysBucketsUpwardNewestFirst) {
  LoggedEntry borrowed(&log_, "borrowed");
  {
    NameTable table(131);
    // buckets 73, 124, 0, 124, 1 and 69: neither the insertion order nor its reverse
    for (const char* name : {".jpg", ".sav", "", ".bit", ".bmp"})
      table.Insert(name, new LoggedEntry(&log_, name));
    table.Insert(".txt", &borrowed)->borrowed = true;
    EXPECT_EQ(WalkNames(table), (Names{"", ".bmp", ".txt", ".jpg", ".bit", ".sav"}));
  }
  EXPECT_EQ(log_, (Names{"", ".bmp", ".jpg", ".bit", ".sav"}));
}

TEST_P(NameTableTest, FindsAndRemovesTheNewestEqualName) {
  NameTable table(131);
  NameNode* older = table.Insert(".jpg", new LoggedEntry(&log_, "older"));
  NameNode* newer = table.Insert(".jpg", new LoggedEntry(&log_, "newer"));
  table.Insert(".sav", nullptr);
  table.Insert(".bit", nullptr);
  EXPECT_EQ(table.Find(".jpg"), newer);
  EXPECT_EQ(newer->next, older);
  for (const char* absent : {".SAV", ".sa", ".savx", ""}) {
    EXPECT_EQ(table.Find(absent), nullptr) << absent;
    table.Remove(absent);
  }
  table.Remove(".jpg");
  table.Remove(".sav");  // second in its chain, no value to destroy
  EXPECT_EQ(log_, Names{"newer"});
  EXPECT_EQ(table.Find(".jpg"), older);
  EXPECT_EQ(WalkNames(table), (Names{".jpg", ".bit"}));
}

INSTANTIATE_TEST_SUITE_P(BothPoolModes, NameTableTest, ::testing::Values(kDirectHeapMode, kBlockMode));

std::string Scrambled(std::string bytes, std::uint32_t key) {
  ScrambleSaveData(reinterpret_cast<unsigned char*>(&bytes[0]), static_cast<std::uint32_t>(bytes.size()),
                   key);
  return bytes;
}

TEST(ScramblerTest, HandWorkedVectors) {
  // key 00020003: products 6, 1144, 01257342 give masks 0005, 1143, 7264: 41^05, 42^43, 43^64.
  // key 00010000: product 0 wraps the mask to FFFF (00 -> FF), then FEFF0100 gives FE00 (00 -> 00).
  // kScrambleKey: 5E3B*71C4 = 29E0302C, mask 302B^29E0 = 19CB, so a lone byte is XORed with CB.
  const std::tuple<std::uint32_t, const char*, const char*> kCases[] = {
      {0x00020003, "414243", "440127"}, {0x00010000, "0000", "ff00"}, {kScrambleKey, "00", "cb"}};
  for (const auto& [key, clear, scrambled] : kCases)
    EXPECT_EQ(Scrambled(test::FromHex(clear), key), test::FromHex(scrambled)) << clear;
}

// The transform step by step as defined, one byte after another: the yardstick for the fast loop.
std::string StraightScrambled(std::string bytes, std::uint32_t key) {
  std::uint32_t inWord = key >> 16, outWord = key & 0xFFFF;
  for (char& c : bytes) {
    const std::uint32_t product = inWord * outWord;  // 16 x 16 bits: no wrap
    const std::uint32_t mask = (((product & 0xFFFF) - 1) ^ (product >> 16)) & 0xFFFF;
    const auto read = static_cast<unsigned char>(c);
    const auto written = static_cast<unsigned char>(read ^ (mask & 0xFF));
    c = static_cast<char>(written);
    inWord = (mask & 0xFF00) | read;
    outWord = (mask & 0xFF00) | written;
  }
  return bytes;
}

TEST(ScramblerTest, MatchesStraightLoopAndUndoesItselfOnRandomDataAndKeys) {
  std::mt19937 random(20240611);
  std::vector<std::pair<std::size_t, std::uint32_t>> cases;  // length, key
  // keys with a zero or all-ones half, whose words multiply to 0 or wrap the low half at once
  for (const std::uint32_t key : {0u, 0xFFFFFFFFu, 0x0000FFFFu, 0xFFFF0000u, 0x00010001u, kScrambleKey})
    for (const std::size_t length : {0, 1, 300}) cases.emplace_back(length, key);
  for (std::size_t length = 0; length <= 300; ++length) cases.emplace_back(length, random());
  for (const std::size_t length : {4095, 4096, 65537, 1 << 20}) cases.emplace_back(length, random());
  for (const auto& [length, key] : cases) {
    SCOPED_TRACE(testing::Message() << "length " << length << ", key 0x" << std::hex << key);
    // random bytes, or mostly zeros, which drive the state round short cycles
    std::string data(length, '\0');
    for (char& byte : data) byte = static_cast<char>(length % 3 == 0 && random() % 8 != 0 ? 0 : random());
    const std::string scrambled = Scrambled(data, key);
    ASSERT_EQ(scrambled, StraightScrambled(data, key));
    ASSERT_EQ(Scrambled(scrambled, key), data);
  }
  ScrambleSaveData(nullptr, 0, kScrambleKey);  // an empty member may come without a buffer
}

TEST(WholeFileTest, RoundTripsAcrossPieceBoundaries) {
  ScratchDir dir;
  for (std::size_t length : {0, 1, 16383, 16384, 16385, 2 * 16384 + 1}) {
    SCOPED_TRACE(length);
    const std::string bytes =
        RandomBytes(length, static_cast<std::uint32_t>(length)) + (length ? "\r\n\x1a" : "");
    WriteBytes(dir.Path("in"), bytes);
    WriteBytes(dir.Path("out"), std::string(100000, 'x'));  // longer: must be cut to the new bytes
    Blob blob;
    ASSERT_TRUE(ReadWholeFile(dir.Path("in").c_str(), &blob));
    EXPECT_TRUE(WriteWholeFile(dir.Path("out").c_str(), blob));
    EXPECT_EQ(test::ReadBytes(dir.Path("out")), bytes);
    delete[] blob.buffer;
  }
}

TEST(WholeFileTest, RefusalsLeaveBlobAndDiskAsTheyWere) {
  ScratchDir dir;
  fs::create_directory(dir.Path("sub"));
  WriteBytes(dir.Path("huge"), "");
  fs::resize_file(dir.Path("huge"), std::uint64_t{1} << 31);  // sparse: costs no disk
  unsigned char sentinel = 'a';
  for (const char* name : {"missing", "sub", "huge"}) {
    SCOPED_TRACE(name);
    Blob blob{&sentinel, 7};
    EXPECT_FALSE(ReadWholeFile(dir.Path(name).c_str(), &blob));
    EXPECT_EQ(blob.buffer, &sentinel);
    EXPECT_EQ(blob.length, 7);
  }
  std::vector<std::string> unwritable = {dir.Path("sub"), dir.Path("nowhere/a.jpg")};
#ifndef _WIN32
  // a device is written to, never removed; through a link, so a faulty removal cannot take the device
  if (fs::is_character_file("/dev/full")) {
    fs::create_symlink("/dev/full", dir.Path("full"));
    unwritable.push_back(dir.Path("full"));
  }
#endif
  for (const std::string& path : unwritable) {
    SCOPED_TRACE(path);
    std::error_code ec;
    const fs::file_type before = fs::status(path, ec).type();
    EXPECT_FALSE(WriteWholeFile(path.c_str(), Blob{&sentinel, 1}));
    EXPECT_EQ(fs::status(path, ec).type(), before);
  }
#ifndef _WIN32
  // a write cut short by a file size limit takes away the file it truncated, not half of it
  WriteBytes(dir.Path("a.sav"), "old contents");
  std::string bytes = RandomBytes(40000, 5);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const rlimit small{20000, old.rlim_max};
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = WriteWholeFile(dir.Path("a.sav").c_str(), test::BlobOf(bytes));
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
  std::signal(SIGXFSZ, previous);
  EXPECT_FALSE(written);
  EXPECT_FALSE(fs::exists(dir.Path("a.sav")));
#endif
}

}  // namespace
}  // namespace tovrel
