// The archive container: the bytes it writes, what it refuses to open or extract, and how a save puts
// a new file in place of the old one or leaves the old one as it was.
#include "archive/archive.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "archive/archive_format.h"
#include "test_util.h"

namespace tovrel::test {
namespace {

[[maybe_unused]] const auto* const kPool = ::testing::AddGlobalTestEnvironment(new DirectHeapPool);

// ".jpg" holding "abc" (bucket 73) before the empty ".sav" (bucket 124), streams back to back
const char kTwoEntryArchive[] =
    "4d585051 38000000 06000000 02000000 04000000 2e6a7067 38000000 0b000000 03000000 "
    "04000000 2e736176 43000000 08000000 00000000 789c4b4c4a0600024d0127 789c030000000001";

void AddString(Archive* archive, const char* name, std::string bytes) {
  ASSERT_TRUE(archive->AddBlob(name, BlobOf(bytes))) << name;
}

// `hex` with the 32-bit field at `at` set to `value`.
std::string Patched(const char* hex, std::size_t at, std::uint32_t value) {
  std::string bytes = FromHex(hex);
  EncodeFixed32(&bytes[at], value);
  return bytes;
}

// The bytes of the entry `name`; "absent" when Extract left the Blob as it was, "!" when it emptied it.
std::string Extracted(Archive* archive, const char* name) {
  unsigned char sentinel = 0;
  Blob out{&sentinel, 1};
  if (!archive->Extract(name, &out)) return out.buffer == &sentinel ? "absent" : out.buffer ? "filled" : "!";
  std::string bytes(reinterpret_cast<char*>(out.buffer), static_cast<std::size_t>(out.length));
  archive->FreeBlob(&out);
  return bytes;
}

struct ArchiveTest : ::testing::Test {
  ScratchDir dir;
  const std::string path = dir.Path("a.ssav");
};

TEST_F(ArchiveTest, WritesAndReadsTheGoldenBytes) {
  // nothing there: an archive is made only when asked for
  EXPECT_FALSE(Archive(path.c_str(), /*create=*/false).IsOpen());
  ASSERT_TRUE(Archive(path.c_str(), /*create=*/true).IsOpen());
  EXPECT_EQ(ReadBytes(path), FromHex(kEmptyArchive));
  WriteBytes(path, "not an archive");
  Archive archive = Archive::StartNew(path.c_str());
  const std::string longest(kMaxEntryNameLength, 'n');
  for (const auto& [name, bytes] :
       {std::pair{".sav", ""}, {".jpg", "abc"}, {".jpg", "newer"}, {longest.c_str(), "x"}})
    AddString(&archive, name, bytes);
  EXPECT_FALSE(archive.AddBlob((longest + "n").c_str(), Blob{}));
  EXPECT_FALSE(archive.AddBlob(".neg", Blob{nullptr, -1}));  // refused before anything is allocated
  for (const char* name : {".jpg", longest.c_str(), ".absent"}) archive.Remove(name);
  ASSERT_TRUE(archive.Save());
  EXPECT_EQ(ReadBytes(path), FromHex(kTwoEntryArchive));
  Archive reopened(path.c_str(), /*create=*/false);
  EXPECT_TRUE(reopened.Contains(".sav"));
  EXPECT_FALSE(reopened.Contains(".sa"));
  EXPECT_EQ(Extracted(&reopened, ".sav") + Extracted(&reopened, ".txt"), "absent");  // empty, then absent
  // the longest name goes in from a file (that archive) and comes back out of the saved directory
  Archive copy = Archive::StartNew(dir.Path("b.ssav").c_str());
  ASSERT_TRUE(copy.AddFile(longest.c_str(), path.c_str()));
  ASSERT_TRUE(copy.Save());
  Archive again(dir.Path("b.ssav").c_str(), /*create=*/false);
  EXPECT_EQ(Extracted(&again, longest.c_str()), FromHex(kTwoEntryArchive));
}

// Hand-made archives and what ".txt" then gives: its bytes, "!" when it cannot be extracted whole, or "-"
// when the archive does not open, which leaves the file as it was even when asked to create one. A stream
// may not inflate past 1032 times its 11 stored bytes.
TEST_F(ArchiveTest, OpensOnlyWellFormedArchivesAndExtractsOnlyWholeStreams) {
  const char *one = kOneEntryArchive, *two = kTwoEntryArchive;
  const std::tuple<const char*, const char*, std::size_t, std::uint32_t, const char*> kPatched[] = {
      {"wrong magic", one, 0, 0x5251584d, "-"},       {"header size below 16", one, 4, 15, "-"},
      {"header size past the end", one, 4, 48, "-"},  {"negative entry count", one, 12, ~0u, "-"},
      {"more records than room", one, 12, 2, "-"},    {"name past the directory", one, 16, 5, "-"},
      {"name over 267 bytes", one, 16, 268, "-"},     {"zero byte in a name", one, 20, 0x7478002e, "-"},
      {"offset past the end", one, 24, 47, "-"},      {"stream past the end", one, 28, 12, "-"},
      {"original size 2^31", one, 32, 1u << 31, "-"}, {"past the inflate ratio", one, 32, 11353, "-"},
      {"stream in the directory", one, 24, 35, "-"},  {"two streams sharing bytes", two, 44, 0x3a, "-"},
      {"stream cut short", one, 28, 10, "!"},         {"stream short of its size", one, 32, 4, "!"},
      {"stream past its size", one, 32, 2, "!"},      {"wrong checksum", one, 42, 0x26014d02, "!"},
      {"damaged stream", one, 36, 0x4c789c78, "!"}};
  std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      {"4 unused directory bytes, 4 stored bytes after the stream's end",
       FromHex("4d585051 28000000 06000000 01000000 04000000 2e747874 28000000 0f000000 03000000 "
               "eeeeeeee 789c4b4c4a0600024d0127 ffffffff"),
       "abc"},
      // the save must still reach the header size when no stream follows the directory
      {"3 unused directory bytes after a record with an empty stream",
       FromHex("4d585051 27000000 06000000 01000000 04000000 2e747874 00000000 00000000 00000000 "
               "000006"),
       "!"},
      {"a second record where the directory ends",
       FromHex("4d585051 38000000 06000000 02000000 18000000") + std::string(24, 'n') +
           FromHex("38000000 0b000000 03000000 789c4b4c4a0600024d0127"),
       "-"}};
  for (std::size_t cut : {0, 15, 30, 46}) cases.emplace_back("cut", FromHex(one).substr(0, cut), "-");
  for (const auto& [what, hex, at, to, txt] : kPatched) cases.emplace_back(what, Patched(hex, at, to), txt);
  for (const auto& [what, bytes, txt] : cases) {
    WriteBytes(path, bytes);
    for (const bool create : {false, true}) {  // the second time as saved again, or asked to create
      Archive archive(path.c_str(), create);
      EXPECT_EQ(archive.IsOpen() ? Extracted(&archive, ".txt") : "-", txt) << what;
      // checking the stream without keeping its bytes finds the same damage
      if (archive.IsOpen()) {
        EXPECT_EQ(std::string(txt) != "!", archive.Verify(".txt")) << what;
      }
      EXPECT_TRUE(archive.IsOpen() ? archive.Save() : ReadBytes(path) == bytes) << what;
    }
  }
}

// Entries across window boundaries, saved; then one more added: the old streams are copied byte for byte,
// back to back, and every entry still extracts.
TEST_F(ArchiveTest, ResavingCopiesOldStreamsAndCompressesAddedOnes) {
  // 16374 random bytes deflate to 16385: a last stored piece of one byte
  std::map<std::string, std::string> entries = {
      {".sav", TextBytes(123456, 11)}, {"", "no extension"}, {".s", RandomBytes(16374, 16374)}};
  for (std::size_t size : {0, 1, 16383, 16384, 16385, 2 * 16384 + 1})
    entries[".r" + std::to_string(size)] = RandomBytes(size, static_cast<std::uint32_t>(size));
  {
    Archive archive = Archive::StartNew(path.c_str());
    for (const auto& [name, bytes] : entries) AddString(&archive, name.c_str(), bytes);
    ASSERT_TRUE(archive.Save());
  }
  const std::string before = ReadBytes(path), streams = before.substr(DecodeFixed32(&before[4]));
  Archive archive(path.c_str(), false);
  AddString(&archive, ".a", entries[".a"] = "fresh");  // bucket 125, after every other
  EXPECT_TRUE(archive.Verify(".a"));                   // in memory, nothing can be damaged yet
  ASSERT_TRUE(archive.Save());
  EXPECT_NE(ReadBytes(path).find(streams), std::string::npos);
  for (const auto& [name, bytes] : entries) EXPECT_EQ(Extracted(&archive, name.c_str()), bytes) << name;
}

TEST_F(ArchiveTest, FailedSaveLeavesTheOldFileAndEntriesThatStillExtract) {
  // level 10 is no zlib level: the added ".a" (bucket 125) fails after the two old streams have moved
  const std::string old = Patched(kTwoEntryArchive, 8, 10);
  WriteBytes(path, old);
  Archive archive(path.c_str(), false);
  AddString(&archive, ".a", "more");
  EXPECT_FALSE(archive.Save());
  EXPECT_EQ(Extracted(&archive, ".jpg") + Extracted(&archive, ".a"), "abcmore");
  EXPECT_EQ(ReadBytes(path), old);
  Archive fresh = Archive::StartNew(dir.path().c_str());  // a folder where the new archive goes
  EXPECT_FALSE(fresh.Save());
  EXPECT_TRUE(fresh.IsOpen());
  EXPECT_FALSE(Archive::StartNew(dir.Path("none/a.ssav").c_str()).Save());  // no folder for the temporary
  EXPECT_FALSE(Archive(dir.Path("none.ssav").c_str(), false).Save());       // nothing open, nothing saved
}

}  // namespace
}  // namespace tovrel::test
