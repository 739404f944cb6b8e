// The archive container: the bytes it writes, what it refuses to open or extract, and how a save puts
// a new file in place of the old one or leaves the old one as it was.
#include "archive/archive.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "test_util.h"

namespace tovrel {
namespace {

namespace fs = std::filesystem;

[[maybe_unused]] const auto* const kPool = ::testing::AddGlobalTestEnvironment(new test::DirectHeapPool);

const char kEmptyArchive[] = "4d585051 10000000 06000000 00000000";
// ".txt" holding "abc": header, one record, the 11-byte zlib stream of "abc"
const char kOneEntryArchive[] =
    "4d585051 24000000 06000000 01000000 04000000 2e747874 24000000 0b000000 03000000 "
    "789c4b4c4a0600024d0127";
// ".jpg" holding "abc" (bucket 73) before the empty ".sav" (bucket 124), streams back to back
const char kTwoEntryArchive[] =
    "4d585051 38000000 06000000 02000000 04000000 2e6a7067 38000000 0b000000 03000000 "
    "04000000 2e736176 43000000 08000000 00000000 789c4b4c4a0600024d0127 789c030000000001";

void AddString(Archive* archive, const char* name, std::string bytes) {
  ASSERT_TRUE(archive->AddBlob(name, test::BlobOf(bytes))) << name;
}

// `hex` with the 32-bit field at `at` set to `value`.
std::string Patched(const char* hex, std::size_t at, std::uint32_t value) {
  std::string bytes = test::FromHex(hex);
  test::PutFixed32(&bytes, at, value);
  return bytes;
}

class ArchiveTest : public ::testing::Test {
 protected:
  std::string PathOf(const char* name) const { return dir_.Path(name); }
  // Everything in the scratch folder, as relative paths: a save's temporary would show here.
  std::set<std::string> Listing() const {
    std::set<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(dir_.path()))
      found.insert(entry.path().lexically_relative(dir_.path()).generic_string());
    return found;
  }
  test::ScratchDir dir_;
};

TEST_F(ArchiveTest, WritesAndReadsTheGoldenBytes) {
  const std::string path = PathOf("a.ssav");
  {
    Archive created(path.c_str(), /*create=*/true);
    ASSERT_TRUE(created.IsOpen());
    EXPECT_EQ(test::ReadBytes(path), test::FromHex(kEmptyArchive));
  }
  test::WriteBytes(path, "not an archive");
  {
    Archive archive = Archive::StartNew(path.c_str());
    AddString(&archive, ".sav", "");
    AddString(&archive, ".jpg", "abc");
    AddString(&archive, ".jpg", "newer");
    AddString(&archive, std::string(kMaxEntryNameLength, 'n').c_str(), "longest");
    EXPECT_FALSE(archive.AddBlob(std::string(kMaxEntryNameLength + 1, 'n').c_str(), Blob{}));
    archive.Remove(".jpg");
    archive.Remove(std::string(kMaxEntryNameLength, 'n').c_str());
    archive.Remove(".absent");
    EXPECT_EQ(test::ReadBytes(path), "not an archive");  // nothing is written before the save
    ASSERT_TRUE(archive.Save());
    EXPECT_EQ(test::ExtractString(&archive, ".jpg"), "abc");
  }
  EXPECT_EQ(test::ReadBytes(path), test::FromHex(kTwoEntryArchive));
  EXPECT_EQ(Listing(), std::set<std::string>{"a.ssav"});
  Archive archive(path.c_str(), /*create=*/false);
  ASSERT_TRUE(archive.IsOpen());
  EXPECT_TRUE(archive.Contains(".sav") && !archive.Contains(".sa"));
  EXPECT_EQ(archive.TotalOriginalSize(), 3);
  EXPECT_EQ(archive.FileLength(), 75);
  EXPECT_EQ(test::ExtractString(&archive, ".jpg"), "abc");
  EXPECT_EQ(test::ExtractString(&archive, ".sav"), "");
  unsigned char sentinel = 7;
  Blob untouched{&sentinel, 1};  // an absent name leaves the Blob as it was
  EXPECT_FALSE(archive.Extract(".txt", &untouched));
  EXPECT_TRUE(untouched.buffer == &sentinel && untouched.length == 1);
}

TEST_F(ArchiveTest, RefusesMalformedArchivesAndLeavesThemAlone) {
  const char *one = kOneEntryArchive, *two = kTwoEntryArchive;
  const struct {
    const char* what;
    const char* hex;
    std::size_t at;
    std::uint32_t value;
  } kCases[] = {
      {"wrong magic", one, 0, 0x5251584d},       {"header size below 16", one, 4, 15},
      {"header size past the end", one, 4, 48},  {"negative entry count", one, 12, ~0u},
      {"more records than room", one, 12, 2},    {"name past the directory", one, 16, 5},
      {"name over 267 bytes", one, 16, 268},     {"zero byte in a name", one, 20, 0x7478002e},
      {"offset past the end", one, 24, 47},      {"stream past the end", one, 28, 12},
      {"original size 2^31", one, 32, 1u << 31}, {"beyond the inflate ratio", one, 32, 11 * 1032 + 1},
      {"stream in the directory", one, 24, 35},  {"two streams sharing bytes", two, 44, 0x3a}};
  std::vector<std::pair<std::string, std::string>> damaged;
  for (const std::size_t cut : {0, 15, 30, 46})
    damaged.emplace_back("cut", test::FromHex(one).substr(0, cut));
  for (const auto& c : kCases) damaged.emplace_back(c.what, Patched(c.hex, c.at, c.value));
  for (const auto& [what, bytes] : damaged) {
    SCOPED_TRACE(what + ", " + std::to_string(bytes.size()) + " bytes");
    test::WriteBytes(PathOf("bad.ssav"), bytes);
    for (const bool create : {false, true})
      EXPECT_FALSE(Archive(PathOf("bad.ssav").c_str(), create).IsOpen());
    EXPECT_EQ(test::ReadBytes(PathOf("bad.ssav")), bytes);
  }
}

TEST_F(ArchiveTest, ExtractsOnlyWholeStreamsAndResavesDamagedOnesAsTheyAre) {
  std::string badChecksum = test::FromHex(kOneEntryArchive), damaged = badChecksum;
  badChecksum.back() ^= 0x01;
  damaged[38] = 'x';
  const struct {
    const char* what;
    std::string bytes;
    const char* txt;  // what ".txt" extracts to, or null
  } kCases[] = {
      {"stream cut short", Patched(kOneEntryArchive, 28, 10), nullptr},
      {"stream ending before the original size", Patched(kOneEntryArchive, 32, 4), nullptr},
      {"stream running past the original size", Patched(kOneEntryArchive, 32, 2), nullptr},
      {"checksum wrong", badChecksum, nullptr},
      {"damaged stream", damaged, nullptr},
      {"4 unused directory bytes, 4 stored bytes after the stream's end",
       test::FromHex("4d585051 28000000 06000000 01000000 04000000 2e747874 28000000 0f000000 03000000 "
                     "eeeeeeee 789c4b4c4a0600024d0127 ffffffff"),
       "abc"},
      // the save must still reach the header size when no stream follows the directory
      {"3 unused directory bytes after a record with an empty stream",
       test::FromHex(
           "4d585051 27000000 06000000 01000000 04000000 2e747874 00000000 00000000 00000000 000006"),
       nullptr}};
  const std::string path = PathOf("hand.ssav");
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    test::WriteBytes(path, c.bytes);
    for (int round = 0; round < 2; ++round) {  // as written by hand, then as saved again
      Archive archive(path.c_str(), false);
      ASSERT_TRUE(archive.IsOpen());
      Blob out;
      EXPECT_EQ(archive.Extract(".txt", &out), c.txt != nullptr);
      EXPECT_EQ(out.buffer == nullptr, c.txt == nullptr);  // a failed extraction leaves an empty Blob
      EXPECT_EQ(std::string(reinterpret_cast<char*>(out.buffer), static_cast<std::size_t>(out.length)),
                c.txt != nullptr ? c.txt : "");
      archive.FreeBlob(&out);
      ASSERT_TRUE(archive.Save());
    }
  }
}

TEST_F(ArchiveTest, CreatesOnlyWhereNothingExists) {
  fs::create_directory(PathOf("dir.ssav"));
  std::vector<std::string> taken = {PathOf("dir.ssav"), PathOf("no/such/dir.ssav")};
#ifndef _WIN32
  fs::create_symlink(PathOf("target.ssav"), PathOf("link.ssav"));  // dangling: never followed
  taken.push_back(PathOf("link.ssav"));
#endif
  for (const std::string& path : taken) EXPECT_FALSE(Archive(path.c_str(), /*create=*/true).IsOpen()) << path;
  Archive missing(PathOf("missing.ssav").c_str(), /*create=*/false);
  EXPECT_FALSE(missing.IsOpen() || missing.Save());
#ifndef _WIN32
  EXPECT_EQ(Listing(), (std::set<std::string>{"dir.ssav", "link.ssav"}));
#endif
}

// Entries across window boundaries, added in each way, saved; then one more added, walked last: the old
// streams are copied byte for byte, back to back, and the new one compressed after them.
TEST_F(ArchiveTest, ResavingCopiesOldStreamsAndCompressesAddedOnes) {
  std::map<std::string, std::string> entries = {{".sav", test::TextBytes(123456, 11)}, {"", "no extension"}};
  for (std::size_t size : {0, 1, 16383, 16384, 16385, 2 * 16384 + 1})
    entries[".r" + std::to_string(size)] = test::RandomBytes(size, static_cast<std::uint32_t>(size));
  const std::string path = PathOf("chunks.ssav");
  test::WriteBytes(PathOf("member"), entries[".r16385"]);
  {
    Archive archive = Archive::StartNew(path.c_str());
    for (const auto& [name, bytes] : entries) {
      Blob owned{new unsigned char[bytes.size() + 1], static_cast<std::int32_t>(bytes.size())};
      bytes.copy(reinterpret_cast<char*>(owned.buffer), bytes.size());
      ASSERT_TRUE(archive.AddOwnedBlob(name.c_str(), &owned));
    }
    archive.Remove(".r16385");
    ASSERT_TRUE(archive.AddFile(".r16385", PathOf("member").c_str()));
    EXPECT_FALSE(archive.AddFile(".dir", dir_.path().c_str()));
    ASSERT_TRUE(archive.Save());
  }
  const std::string before = test::ReadBytes(path);
  Archive archive(path.c_str(), false);
  AddString(&archive, ".a", "fresh");  // bucket 125, after every other
  entries[".a"] = "fresh";
  ASSERT_TRUE(archive.Save());
  const std::string after = test::ReadBytes(path), streams = before.substr(DecodeFixed32(&before[4]));
  EXPECT_EQ(after.substr(DecodeFixed32(&after[4]), streams.size()), streams);
  static std::map<std::string, std::string>* unseen;
  unseen = &entries;
  EXPECT_EQ(archive.ForEach([](Archive* a, const char* name) {
    EXPECT_TRUE(test::ExtractString(a, name) == (*unseen)[name]) << name;
    unseen->erase(name);
  }),
            9);
  EXPECT_TRUE(entries.empty());
}

TEST_F(ArchiveTest, FailedSaveLeavesTheOldFileAndEntriesThatStillExtract) {
  // level 10 is no zlib level: the added ".a" (bucket 125) fails after the two old streams have moved
  const std::string path = PathOf("keep.ssav"), old = Patched(kTwoEntryArchive, 8, 10);
  test::WriteBytes(path, old);
  {
    Archive archive(path.c_str(), false);
    AddString(&archive, ".a", "more");
    EXPECT_FALSE(archive.Save());
    EXPECT_TRUE(archive.IsOpen());
    EXPECT_EQ(test::ExtractString(&archive, ".jpg"), "abc");
  }
  EXPECT_EQ(test::ReadBytes(path), old);
  // a directory where a new archive goes, or no folder left to hold it
  fs::create_directories(PathOf("sub/a.ssav"));
  for (const char* name : {"sub/a.ssav", "gone/a.ssav"}) {
    SCOPED_TRACE(name);
    Archive archive = Archive::StartNew(PathOf(name).c_str());
    AddString(&archive, ".sav", "kept in memory");
    EXPECT_FALSE(archive.Save());
    EXPECT_TRUE(archive.IsOpen());
    EXPECT_EQ(test::ExtractString(&archive, ".sav"), "kept in memory");
  }
  EXPECT_EQ(Listing(), (std::set<std::string>{"keep.ssav", "sub", "sub/a.ssav"}));
}

}  // namespace
}  // namespace tovrel
