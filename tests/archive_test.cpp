// The archive container: the bytes it writes, what it refuses to open, how entries travel through
// compression, extraction and raw copies, and how a save replaces the archive file.
#include "archive/archive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "core/block_pool.h"
#include "test_util.h"

namespace tovrel {
namespace {

using test::CurrentDir;
using test::FromHex;
using test::PutFixed32;
using test::RandomBytes;
using test::ReadBytes;
using test::ScratchDir;
using test::TextBytes;
using test::WriteBytes;

class PoolEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { CreatePool(kDirectHeapMode); }
  void TearDown() override { DestroyPool(); }
};
[[maybe_unused]] const auto* const kPoolEnvironment = ::testing::AddGlobalTestEnvironment(new PoolEnvironment);

const char kEmptyArchive[] = "4d585051 10000000 06000000 00000000";
// ".txt" holding "abc": header, one record, the 11-byte zlib stream of "abc"
const char kOneEntryArchive[] =
    "4d585051 24000000 06000000 01000000 04000000 2e747874 24000000 0b000000 03000000 "
    "789c4b4c4a0600024d0127";
const char kEmptyStream[] = "789c0300 00000001";

Blob BlobOf(std::string& bytes) {
  Blob blob;
  blob.buffer = reinterpret_cast<unsigned char*>(bytes.data());
  blob.length = static_cast<std::int32_t>(bytes.size());
  return blob;
}

// Extracts `name` and returns its bytes; fails the test when extraction fails.
std::string ExtractString(Archive* archive, const char* name) {
  Blob out;
  if (!archive->Extract(name, &out)) {
    ADD_FAILURE() << "cannot extract " << name;
    return std::string();
  }
  std::string bytes(reinterpret_cast<const char*>(out.buffer), static_cast<std::size_t>(out.length));
  archive->FreeBlob(&out);
  return bytes;
}

void AddString(Archive* archive, const char* name, std::string bytes) {
  ASSERT_TRUE(archive->AddBlob(name, BlobOf(bytes))) << name;
}

// Records of a saved archive, in file order.
struct Record {
  std::string name;
  std::uint32_t dataOffset, storedSize, originalSize;
};
std::vector<Record> ReadRecords(const std::string& file) {
  std::vector<Record> records;
  const std::uint32_t count = DecodeFixed32(&file[12]);
  std::size_t pos = kHeaderSize;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t nameLength = DecodeFixed32(&file[pos]);
    Record r{file.substr(pos + 4, nameLength), 0, 0, 0};
    pos += 4 + nameLength;
    r.dataOffset = DecodeFixed32(&file[pos]);
    r.storedSize = DecodeFixed32(&file[pos + 4]);
    r.originalSize = DecodeFixed32(&file[pos + 8]);
    pos += 12;
    records.push_back(r);
  }
  return records;
}

// Every archive test works in its own scratch directory, which is also the working directory, so the
// temporary file of a save lands there.
class ArchiveTest : public ::testing::Test {
 protected:
  std::string PathOf(const char* name) const { return dir_.Path(name); }
  ScratchDir dir_;
  CurrentDir cwd_{dir_.path()};
};

TEST_F(ArchiveTest, WritesTheGoldenBytesOfEmptyAndOneEntryArchives) {
  const std::string path = PathOf("a.ssav");
  {
    Archive archive(path.c_str(), /*create=*/true);
    ASSERT_TRUE(archive.IsOpen());
    EXPECT_EQ(ReadBytes(path), FromHex(kEmptyArchive));
    EXPECT_EQ(archive.FileLength(), 16);
    ASSERT_TRUE(archive.Save());
    EXPECT_EQ(ReadBytes(path), FromHex(kEmptyArchive));
    AddString(&archive, ".txt", "abc");
    ASSERT_TRUE(archive.Save());
    EXPECT_EQ(archive.FileLength(), 47);
  }
  EXPECT_EQ(ReadBytes(path), FromHex(kOneEntryArchive));
  EXPECT_FALSE(test::FileExists(PathOf(kTempFileName)));
}

TEST_F(ArchiveTest, ReadsTheGoldenOneEntryArchive) {
  const std::string path = PathOf("a.ssav");
  WriteBytes(path, FromHex(kOneEntryArchive));
  Archive archive(path.c_str(), /*create=*/false);
  ASSERT_TRUE(archive.IsOpen());
  EXPECT_TRUE(archive.Contains(".txt"));
  EXPECT_FALSE(archive.Contains(".tx"));
  EXPECT_EQ(archive.TotalOriginalSize(), 3);
  EXPECT_EQ(ExtractString(&archive, ".txt"), "abc");
}

TEST_F(ArchiveTest, RefusesMalformedArchivesAndLeavesThemUntouched) {
  const std::string good = FromHex(kOneEntryArchive);
  struct Case {
    const char* what;
    std::string bytes;
  };
  std::vector<Case> cases = {{"empty file", ""},
                             {"three bytes", "MXP"},
                             {"magic only", "MXPQ"},
                             {"header cut short", good.substr(0, 15)},
                             {"wrong magic", "MXPR" + good.substr(4)},
                             {"directory cut short", good.substr(0, 30)},
                             {"stream cut off by the end of the file", good.substr(0, 46)}};
  const struct {
    const char* what;
    std::size_t at;
    std::uint32_t value;
  } kPatches[] = {{"header size below the header", 4, 15},
                  {"header size past the end of the file", 4, 48},
                  {"negative entry count", 12, 0xFFFFFFFF},
                  {"more records than the directory holds", 12, 2},
                  {"name running past the directory", 16, 5},
                  {"name longer than 267 bytes", 16, 268},
                  {"stream offset past the end of the file", 24, 47},
                  {"stream past the end of the file", 28, 12},
                  {"original size of 2^31", 32, 0x80000000},
                  {"size the stream cannot inflate to", 32, 11 * 1032 + 1}};
  for (const auto& patch : kPatches) {
    std::string bytes = good;
    PutFixed32(&bytes, patch.at, patch.value);
    cases.push_back({patch.what, bytes});
  }
  std::string zeroInName = good;
  zeroInName[22] = '\0';
  cases.push_back({"zero byte inside a name", zeroInName});

  const std::string path = PathOf("bad.ssav");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteBytes(path, c.bytes);
    for (bool create : {false, true}) {
      Archive archive(path.c_str(), create);
      EXPECT_FALSE(archive.IsOpen());
      EXPECT_EQ(archive.ForEach([](Archive*, const char*) { ADD_FAILURE() << "entry of a closed archive"; }),
                0);
    }
    EXPECT_EQ(ReadBytes(path), c.bytes);
  }
}

TEST_F(ArchiveTest, OpensOnlyWhatExistsUnlessAskedToCreate) {
  const std::string missing = PathOf("missing.ssav");
  {
    Archive archive(missing.c_str(), /*create=*/false);
    EXPECT_FALSE(archive.IsOpen());
    EXPECT_EQ(archive.Path(), nullptr);
  }
  EXPECT_FALSE(test::FileExists(missing));
  // a directory is not an archive, and is never replaced by one
  std::filesystem::create_directory(PathOf("dir.ssav"));
  Archive directory(PathOf("dir.ssav").c_str(), /*create=*/true);
  EXPECT_FALSE(directory.IsOpen());
  EXPECT_TRUE(std::filesystem::is_directory(PathOf("dir.ssav")));
  // nor is a missing directory on the way
  Archive nowhere(PathOf("no/such/dir.ssav").c_str(), /*create=*/true);
  EXPECT_FALSE(nowhere.IsOpen());
}

TEST_F(ArchiveTest, ToleratesSlackAfterTheLastRecordAndSurplusStoredBytes) {
  // header size 40 leaves 4 unused directory bytes before the stream at 40
  std::string bytes = FromHex(
      "4d585051 28000000 06000000 01000000 04000000 2e747874 28000000 0f000000 03000000 "
      "eeeeeeee 789c4b4c4a0600024d0127 ffffffff");
  const std::string path = PathOf("slack.ssav");
  WriteBytes(path, bytes);
  Archive archive(path.c_str(), false);
  ASSERT_TRUE(archive.IsOpen());
  EXPECT_EQ(ExtractString(&archive, ".txt"), "abc");
}

TEST_F(ArchiveTest, SavedArchiveWithSlackAndNoStreamBytesStillReopens) {
  // found by fuzzing: header size 36 leaves 3 unused directory bytes after the one record, and the
  // record's stream is empty, so no stream write ever reached offset 36
  const std::string bytes = FromHex(
      "4d585051 24000000 06000000 01000000 01000000 04 00000000 00000000 00000000 000006");
  const std::string path = PathOf("slack.ssav");
  WriteBytes(path, bytes);
  {
    Archive archive(path.c_str(), false);
    ASSERT_TRUE(archive.IsOpen());
    ASSERT_TRUE(archive.Save());
  }
  EXPECT_EQ(ReadBytes(path).size(), bytes.size());
  Archive reopened(path.c_str(), false);
  ASSERT_TRUE(reopened.IsOpen());
  EXPECT_EQ(reopened.EntryCount(), 1);
}

TEST_F(ArchiveTest, ExtractFailsOnDamagedStreamsAndReleasesTheBlob) {
  const std::string good = FromHex(kOneEntryArchive);
  const struct {
    const char* what;
    std::size_t at;
    std::uint32_t value;
  } kPatches[] = {{"stream cut short", 28, 10},
                  {"stream shorter than the original size", 32, 4},
                  {"stream longer than the original size", 32, 2},
                  {"stream offset inside the directory", 24, 16}};
  const std::string path = PathOf("damaged.ssav");
  for (const auto& patch : kPatches) {
    SCOPED_TRACE(patch.what);
    std::string bytes = good;
    PutFixed32(&bytes, patch.at, patch.value);
    WriteBytes(path, bytes);
    Archive archive(path.c_str(), false);
    ASSERT_TRUE(archive.IsOpen());
    Blob out;
    EXPECT_FALSE(archive.Extract(".txt", &out));
    EXPECT_EQ(out.buffer, nullptr);
    EXPECT_EQ(out.length, 0);
  }
  std::string badChecksum = good;
  badChecksum.back() ^= 0x01;
  WriteBytes(path, badChecksum);
  Archive archive(path.c_str(), false);
  ASSERT_TRUE(archive.IsOpen());
  Blob out;
  EXPECT_FALSE(archive.Extract(".txt", &out));
  EXPECT_EQ(out.buffer, nullptr);

  // an absent name leaves the Blob exactly as it was
  unsigned char sentinel = 7;
  Blob untouched{&sentinel, 1};
  EXPECT_FALSE(archive.Extract(".jpg", &untouched));
  EXPECT_EQ(untouched.buffer, &sentinel);
  EXPECT_EQ(untouched.length, 1);
}

TEST_F(ArchiveTest, EntriesCrossChunkBoundariesThroughCompressExtractAndCopy) {
  const std::size_t kSizes[] = {0, 1, 16383, 16384, 16385, 2 * 16384 + 1, 100000};
  const std::string path = PathOf("chunks.ssav");
  std::vector<std::string> contents;
  {
    Archive archive(path.c_str(), true);
    ASSERT_TRUE(archive.IsOpen());
    int i = 0;
    for (std::size_t size : kSizes) {
      // random bytes do not compress, so the bigger streams span several windows too
      contents.push_back(RandomBytes(size, static_cast<std::uint32_t>(size)));
      const std::string name = ".r" + std::to_string(i++);
      AddString(&archive, name.c_str(), contents.back());
    }
    AddString(&archive, ".text", TextBytes(70000, 3));
    ASSERT_TRUE(archive.Save());
    // entries added in memory are still served from memory after the save
    EXPECT_EQ(ExtractString(&archive, ".r3"), contents[3]);
  }
  const std::string before = ReadBytes(path);
  for (const Record& r : ReadRecords(before)) {
    if (r.name == ".r0") {
      EXPECT_EQ(before.substr(r.dataOffset, r.storedSize), FromHex(kEmptyStream));
    }
  }

  // reopen: every entry now comes out of the file; add one and save, which copies the old streams raw
  Archive archive(path.c_str(), false);
  ASSERT_TRUE(archive.IsOpen());
  for (std::size_t i = 0; i < contents.size(); ++i) {
    SCOPED_TRACE(kSizes[i]);
    EXPECT_EQ(ExtractString(&archive, (".r" + std::to_string(i)).c_str()), contents[i]);
  }
  EXPECT_EQ(ExtractString(&archive, ".text"), TextBytes(70000, 3));
  AddString(&archive, ".new", "fresh");
  ASSERT_TRUE(archive.Save());
  const std::string after = ReadBytes(path);
  std::vector<Record> oldRecords = ReadRecords(before);
  for (const Record& r : ReadRecords(after)) {
    if (r.name == ".new") continue;
    SCOPED_TRACE(r.name);
    const auto old = std::find_if(oldRecords.begin(), oldRecords.end(),
                                  [&](const Record& o) { return o.name == r.name; });
    ASSERT_NE(old, oldRecords.end());
    EXPECT_EQ(after.substr(r.dataOffset, r.storedSize), before.substr(old->dataOffset, old->storedSize));
  }
  for (std::size_t i = 0; i < contents.size(); ++i) {
    EXPECT_EQ(ExtractString(&archive, (".r" + std::to_string(i)).c_str()), contents[i]);
  }
  EXPECT_EQ(ExtractString(&archive, ".new"), "fresh");
}

TEST_F(ArchiveTest, LaysOutRecordsAndStreamsInWalkOrder) {
  const std::string path = PathOf("order.ssav");
  {
    Archive archive(path.c_str(), true);
    AddString(&archive, ".sav", std::string(100, 's'));
    AddString(&archive, ".jpg", std::string(50, 'j'));
    EXPECT_EQ(archive.HeaderSize(), 56);
    EXPECT_EQ(archive.EntryCount(), 2);
    EXPECT_EQ(archive.TotalOriginalSize(), 150);
    std::vector<std::string> visited;
    static std::vector<std::string>* sink;
    sink = &visited;
    EXPECT_EQ(archive.ForEach([](Archive*, const char* name) { sink->push_back(name); }), 2);
    EXPECT_EQ(visited, (std::vector<std::string>{".jpg", ".sav"}));
    ASSERT_TRUE(archive.Save());
  }
  const std::string file = ReadBytes(path);
  const std::vector<Record> records = ReadRecords(file);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].name, ".jpg");
  EXPECT_EQ(records[0].dataOffset, 56u);
  EXPECT_EQ(records[1].name, ".sav");
  EXPECT_EQ(records[1].dataOffset, 56u + records[0].storedSize);
  EXPECT_EQ(file.size(), 56u + records[0].storedSize + records[1].storedSize);
}

TEST_F(ArchiveTest, SavingTwiceWritesTheSameFile) {
  const std::string path = PathOf("twice.ssav");
  Archive archive(path.c_str(), true);
  AddString(&archive, ".sav", TextBytes(40000, 1));
  AddString(&archive, "", "no extension");
  ASSERT_TRUE(archive.Save());
  const std::string first = ReadBytes(path);
  ASSERT_TRUE(archive.Save());
  EXPECT_EQ(ReadBytes(path), first);
}

TEST_F(ArchiveTest, OwnedBlobIsTakenOverNotCopied) {
  const std::string path = PathOf("owned.ssav");
  const std::string bytes = RandomBytes(40000, 9);
  {
    Archive archive(path.c_str(), true);
    Blob blob{new unsigned char[bytes.size()], static_cast<std::int32_t>(bytes.size())};
    std::copy(bytes.begin(), bytes.end(), blob.buffer);
    ASSERT_TRUE(archive.AddOwnedBlob(".sav", &blob));
    EXPECT_EQ(blob.buffer, nullptr);  // the entry owns it now: freeing it here would be a double free
    EXPECT_EQ(blob.length, 0);
    Blob empty;
    ASSERT_TRUE(archive.AddOwnedBlob(".jpg", &empty));
    // a refused entry still takes its buffer along (a leak under the sanitizers otherwise)
    const std::string tooLong(kMaxEntryNameLength + 1, 'n');
    Blob refused{new unsigned char[3], 3};
    EXPECT_FALSE(archive.AddOwnedBlob(tooLong.c_str(), &refused));
    EXPECT_EQ(refused.buffer, nullptr);
    EXPECT_EQ(archive.EntryCount(), 2);
    ASSERT_TRUE(archive.Save());
  }
  Archive reopened(path.c_str(), false);
  EXPECT_EQ(ExtractString(&reopened, ".sav"), bytes);
  EXPECT_EQ(ExtractString(&reopened, ".jpg"), "");
}

TEST_F(ArchiveTest, KeepsCountersInStepWithAdditionsAndRemovals) {
  const std::string path = PathOf("names.ssav");
  const std::string longest(kMaxEntryNameLength, 'n');
  {  // closed before the reopen: Windows cannot replace a file another handle holds open
    Archive archive(path.c_str(), true);
    const std::string tooLong(kMaxEntryNameLength + 1, 'n');
    std::string bytes = "x";
    AddString(&archive, longest.c_str(), "long");
    EXPECT_FALSE(archive.AddBlob(tooLong.c_str(), BlobOf(bytes)));
    EXPECT_FALSE(archive.AddFile(tooLong.c_str(), path.c_str()));
    EXPECT_EQ(archive.EntryCount(), 1);
    EXPECT_EQ(archive.HeaderSize(), 16 + 16 + 267);

    AddString(&archive, ".jpg", "first");
    AddString(&archive, ".jpg", "second");
    EXPECT_EQ(ExtractString(&archive, ".jpg"), "second");
    archive.Remove(".jpg");
    EXPECT_EQ(ExtractString(&archive, ".jpg"), "first");
    archive.Remove(".absent");
    EXPECT_EQ(archive.EntryCount(), 2);
    EXPECT_EQ(archive.HeaderSize(), 16 + 16 + 267 + 16 + 4);
    ASSERT_TRUE(archive.Save());
  }

  Archive reopened(path.c_str(), false);
  ASSERT_TRUE(reopened.IsOpen());
  EXPECT_EQ(ExtractString(&reopened, longest.c_str()), "long");
  EXPECT_EQ(ExtractString(&reopened, ".jpg"), "first");
  reopened.Remove(longest.c_str());
  ASSERT_TRUE(reopened.Save());
  const std::vector<Record> records = ReadRecords(ReadBytes(path));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].name, ".jpg");
  EXPECT_EQ(ReadBytes(path).size(), 16u + 16 + 4 + records[0].storedSize);
}

TEST_F(ArchiveTest, AddFileTakesWholeFilesAndRefusesWhatItCannotRead) {
  const std::string path = PathOf("files.ssav");
  const std::string member = PathOf("member.bin");
  WriteBytes(member, RandomBytes(20000, 9));
  Archive archive(path.c_str(), true);
  ASSERT_TRUE(archive.AddFile(".bin", member.c_str()));
  EXPECT_FALSE(archive.AddFile(".gone", PathOf("gone.bin").c_str()));
  EXPECT_FALSE(archive.AddFile(".dir", dir_.path().c_str()));
  EXPECT_EQ(archive.EntryCount(), 1);
  ASSERT_TRUE(archive.Save());
  EXPECT_EQ(ExtractString(&archive, ".bin"), RandomBytes(20000, 9));
}

TEST_F(ArchiveTest, FailedSaveLeavesOldArchive) {
  const std::string path = PathOf("keep.ssav");
  {
    Archive archive(path.c_str(), true);
    AddString(&archive, ".sav", TextBytes(30000, 5));
    ASSERT_TRUE(archive.Save());
  }
  const std::string before = ReadBytes(path);

  // the working directory cannot take the temporary file: a directory stands in its way
  std::filesystem::create_directory(PathOf(kTempFileName));
  {
    Archive archive(path.c_str(), false);
    ASSERT_TRUE(archive.IsOpen());
    AddString(&archive, ".jpg", "more");
    EXPECT_FALSE(archive.Save());
    EXPECT_TRUE(archive.IsOpen());
    EXPECT_EQ(ExtractString(&archive, ".sav"), TextBytes(30000, 5));
  }
  EXPECT_EQ(ReadBytes(path), before);
  std::filesystem::remove(PathOf(kTempFileName));

  // an entry that cannot be compressed (level 10 is not a zlib level) aborts the save midway
  std::string badLevel = before;
  PutFixed32(&badLevel, 8, 10);
  WriteBytes(path, badLevel);
  {
    Archive archive(path.c_str(), false);
    ASSERT_TRUE(archive.IsOpen());
    AddString(&archive, ".jpg", "more");
    EXPECT_FALSE(archive.Save());
    // the loaded entry still points at its stream in the untouched file
    EXPECT_EQ(ExtractString(&archive, ".sav"), TextBytes(30000, 5));
  }
  EXPECT_EQ(ReadBytes(path), badLevel);
  EXPECT_FALSE(test::FileExists(PathOf(kTempFileName)));
}

TEST(ArchiveSaveAcrossFileSystemsTest, SavesAnArchiveOnAnotherFileSystem) {
  if (!std::filesystem::is_directory("/dev/shm")) GTEST_SKIP() << "no /dev/shm here";
  ScratchDir work;
  ScratchDir shm("/dev/shm");
  CurrentDir cwd(work.path());
  const std::string path = shm.Path("far.ssav");
  {
    Archive archive(path.c_str(), true);
    ASSERT_TRUE(archive.IsOpen());
    AddString(&archive, ".sav", TextBytes(50000, 8));
    ASSERT_TRUE(archive.Save());
    EXPECT_TRUE(archive.IsOpen());
  }
  EXPECT_FALSE(test::FileExists(work.Path(kTempFileName)));
  Archive archive(path.c_str(), false);
  ASSERT_TRUE(archive.IsOpen());
  EXPECT_EQ(ExtractString(&archive, ".sav"), TextBytes(50000, 8));
}

// The library as the commands drive it: pack a save's files, then unpack them by walking the archive.
TEST_F(ArchiveTest, PacksAndUnpacksASaveByteForByte) {
  const std::string sav = TextBytes(123456, 11);
  const std::string jpg = RandomBytes(40000, 12);
  const std::string path = PathOf("save.ssav");
  {
    Archive archive(path.c_str(), true);
    ASSERT_TRUE(archive.IsOpen());
    AddString(&archive, ".sav", sav);
    AddString(&archive, ".jpg", jpg);
    AddString(&archive, ".empty", "");
    ASSERT_TRUE(archive.Save());
  }
  Archive archive(path.c_str(), false);
  ASSERT_TRUE(archive.IsOpen());
  static std::vector<std::pair<std::string, std::string>>* unpacked;
  std::vector<std::pair<std::string, std::string>> files;
  unpacked = &files;
  EXPECT_EQ(archive.ForEach([](Archive* a, const char* name) {
              unpacked->emplace_back(name, ExtractString(a, name));
            }),
            3);
  EXPECT_EQ(archive.TotalOriginalSize(), static_cast<std::int32_t>(sav.size() + jpg.size()));
  ASSERT_EQ(files.size(), 3u);
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    EXPECT_EQ(bytes, name == ".sav" ? sav : name == ".jpg" ? jpg : std::string());
  }
}

}  // namespace
}  // namespace tovrel
