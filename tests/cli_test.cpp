// End-to-end tests of the tool: the real binary runs in a fresh scratch directory, and what it prints,
// its exit code and the files it leaves are checked byte for byte. Archives are inspected, and built
// where a test needs an unusual one, through the archive library itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/archive_format.h"
#include "core/block_pool.h"
#include "core/scrambler.h"
#include "platform/platform.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace tovrel {
namespace {

using test::CurrentDir;
using test::FileExists;
using test::FromHex;
using test::RandomBytes;
using test::ReadBytes;
using test::ScratchDir;
using test::TextBytes;
using test::ToolResult;
using test::WriteBytes;

class PoolEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { CreatePool(kDirectHeapMode); }
  void TearDown() override { DestroyPool(); }
};
[[maybe_unused]] const auto* const kPoolEnvironment =
    ::testing::AddGlobalTestEnvironment(new PoolEnvironment);

const char kBanner[] = "Brask Tovrel Utility ver. 1.0\nPacks and unpacks Brask saved games.\n\n";
const char kUsage[] =
    "Command usage:\n"
    "\tTovrel.exe arg1 [arg2]\n\n"
    "\t\targ1 - save name to convert\n"
    "\t\t\t.sav extension for packing and\n"
    "\t\t\t.ssav extension for unpacking\n"
    "\t\targ2 - (optional) archive name (valid for packing only)\n"
    "Sample:\n"
    "Tovrel.exe autosave1.sav - Packs save named \"autosave1\"\n\t\t\t\tand create archive "
    "\"autosave1.ssav\"\n"
    "Tovrel.exe autosave1.sav myarch - Packs save named \"autosave1\"\n\t\t\t\tand create archive "
    "\"myarch.ssav\"\n"
    "Tovrel.exe autosave1.ssav - Unpack archive \"autosave1.ssav\"\n";
// ".txt" holding "abc": header, one record, the 11-byte zlib stream of "abc"; 47 bytes in all
const char kOneEntryArchive[] =
    "4d585051 24000000 06000000 01000000 04000000 2e747874 24000000 0b000000 03000000 "
    "789c4b4c4a0600024d0127";

// Runs the tool in `dir`. Windows writes stdout and stderr in text mode: lines end in "\r\n" there.
ToolResult Tool(const ScratchDir& dir, const std::string& args) {
  ToolResult r = test::RunTool(TOOL_PATH, dir.path(), args);
#ifdef _WIN32
  for (std::string* text : {&r.out, &r.err}) {
    std::size_t at;
    while ((at = text->find("\r\n")) != std::string::npos) text->erase(at, 1);
  }
#endif
  return r;
}

// The four report lines for these numbers.
std::string Report(std::int64_t files, std::int64_t archiveBytes, std::int64_t originalBytes) {
  char ratio[32];
  std::snprintf(ratio, sizeof ratio, "%.2f",
                originalBytes == 0
                    ? 0.0
                    : 100.0 - static_cast<double>(archiveBytes) / static_cast<double>(originalBytes) * 100.0);
  return "Total files in archive: \t" + std::to_string(files) + "\nCompressed size: \t\t" +
         std::to_string(archiveBytes) + "\nOriginal size: \t\t\t" + std::to_string(originalBytes) +
         "\nCompress ratio: \t\t" + ratio + "%\n";
}

std::int64_t SizeOf(const std::string& path) { return static_cast<std::int64_t>(fs::file_size(path)); }

// The names in `dir`, sorted.
std::vector<std::string> Names(const ScratchDir& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Each of `err`'s lines starts with `prefix`, and there is one per string in `mentions`, holding it.
void ExpectLines(const std::string& err, const std::string& prefix,
                 const std::vector<std::string>& mentions) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < err.size()) {
    const std::size_t end = err.find('\n', start);
    ASSERT_NE(std::string::npos, end) << "unterminated line in: " << err;
    lines.push_back(err.substr(start, end - start));
    start = end + 1;
  }
  ASSERT_EQ(mentions.size(), lines.size()) << err;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(0u, lines[i].rfind(prefix, 0)) << lines[i];
    EXPECT_NE(std::string::npos, lines[i].find(mentions[i])) << lines[i] << " should name " << mentions[i];
  }
}

std::string Extracted(Archive* archive, const char* name) {
  Blob out;
  if (!archive->Extract(name, &out)) {
    ADD_FAILURE() << "cannot extract '" << name << "'";
    return std::string();
  }
  std::string bytes(reinterpret_cast<const char*>(out.buffer), static_cast<std::size_t>(out.length));
  archive->FreeBlob(&out);
  return bytes;
}

std::string Scrambled(std::string bytes) {
  ScrambleSaveData(reinterpret_cast<unsigned char*>(&bytes[0]), static_cast<std::uint32_t>(bytes.size()),
                   kScrambleKey);
  return bytes;
}

// Builds the archive `name` in `dir` holding `entries` (name, bytes), saved from inside `dir`.
void MakeArchive(const ScratchDir& dir, const std::string& name,
                 const std::vector<std::pair<std::string, std::string>>& entries) {
  CurrentDir cwd(dir.path());  // the save goes through a temporary in the working directory
  Archive archive(dir.Path(name).c_str(), /*create=*/true);
  ASSERT_TRUE(archive.IsOpen());
  for (auto entry : entries) {
    Blob blob;
    blob.buffer = reinterpret_cast<unsigned char*>(&entry.second[0]);
    blob.length = static_cast<std::int32_t>(entry.second.size());
    ASSERT_TRUE(archive.AddBlob(entry.first.c_str(), blob));
  }
  ASSERT_TRUE(archive.Save());
}

// The entry `name` of the archive at `path`.
std::string EntryOf(const std::string& path, const char* name) {
  Archive archive(path.c_str(), /*create=*/false);
  EXPECT_TRUE(archive.IsOpen()) << path;
  return archive.IsOpen() ? Extracted(&archive, name) : std::string();
}

TEST(CommandLineTest, NoArgumentPrintsUsage) {
  ScratchDir dir;
  const ToolResult r = Tool(dir, "");
  EXPECT_EQ(2, r.exitCode);
  EXPECT_EQ(std::string(kBanner) + kUsage, r.out);
  EXPECT_EQ("", r.err);
}

TEST(CommandLineTest, ArgumentsThatDoNothingOrFail) {
  ScratchDir dir;
  const fs::path here = fs::canonical(dir.path());  // the tool sees the physical path
  WriteBytes(dir.Path("x.txt"), "text");
  WriteBytes(dir.Path("y.SAV"), "upper case is not a save");
  WriteBytes(dir.Path("x.sav"), "save");
  const std::string tooLong(kMaxPath, 'n');
  const struct {
    const char* what;
    std::string args;
    int code;
    std::string out;
    std::string errMentions;
  } kCases[] = {
      {"relative missing save", "autosave1.sav", 1,
       std::string(kBanner) + "File " + (here / "autosave1.sav").string() + " not found", ""},
      {"missing archive", "sub/../a.ssav", 1,
       std::string(kBanner) + "File " + (here / "a.ssav").string() + " not found", ""},
      {"other extension", "x.txt", 0, kBanner, ""},
      {"extension in capitals", "y.SAV", 0, kBanner, ""},
      {"argument too long", tooLong + ".sav", 1, kBanner, tooLong.substr(0, 20)},
      {"archive name too long", "x.sav " + tooLong, 1, kBanner, tooLong.substr(0, 20)},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    const ToolResult r = Tool(dir, c.args);
    EXPECT_EQ(c.code, r.exitCode);
    EXPECT_EQ(c.out, r.out);
    if (c.errMentions.empty()) {
      EXPECT_EQ("", r.err);
    } else {
      ExpectLines(r.err, "error: ", {c.errMentions});
    }
  }
  EXPECT_EQ((std::vector<std::string>{"x.sav", "x.txt", "y.SAV"}), Names(dir));
}

TEST(PackTest, StoresSaveScrambledAndCompanionsAsIs) {
  ScratchDir dir;
  const std::string sav = TextBytes(20000, 1), jpg = RandomBytes(3000, 2);
  WriteBytes(dir.Path("autosave1.sav"), sav);
  WriteBytes(dir.Path("autosave1.jpg"), jpg);
  fs::create_directory(dir.Path("autosave1.dir"));  // a directory is no member, and no failure
  WriteBytes(dir.Path("autosave10.sav"), "another save");

  const ToolResult r = Tool(dir, "autosave1.sav");
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ("", r.err);
  const std::string archivePath = dir.Path("autosave1.ssav");
  EXPECT_EQ(kBanner + Report(2, SizeOf(archivePath), 23000), r.out);
  Archive archive(archivePath.c_str(), /*create=*/false);
  ASSERT_TRUE(archive.IsOpen());
  EXPECT_EQ(2, archive.EntryCount());
  EXPECT_EQ(Scrambled(sav), Extracted(&archive, ".sav"));
  EXPECT_EQ(jpg, Extracted(&archive, ".jpg"));
  // nothing but the archive is left behind: no pending file, no temporary
  EXPECT_EQ((std::vector<std::string>{"autosave1.dir", "autosave1.jpg", "autosave1.sav", "autosave1.ssav",
                                      "autosave10.sav"}),
            Names(dir));
}

TEST(PackTest, ReplacesOnlyTheArchiveItNames) {
  ScratchDir dir;
  const std::string archivePath = dir.Path("autosave1.ssav");
  WriteBytes(dir.Path("autosave1.sav"), "first");
  ASSERT_EQ(0, Tool(dir, "autosave1.sav").exitCode);
  WriteBytes(dir.Path("autosave1.sav"), "second, longer");
  ToolResult r = Tool(dir, "autosave1.sav");  // the old archive matches the search yet stays out
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ(kBanner + Report(1, SizeOf(archivePath), 14), r.out);
  EXPECT_EQ(Scrambled("second, longer"), EntryOf(archivePath, ".sav"));
  const std::string packed = ReadBytes(archivePath);

  WriteBytes(dir.Path("autosave1.sav"), "third");
  r = Tool(dir, "autosave1.sav myarch");
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ("", r.err);  // autosave1.ssav is skipped without a word, and left as it was
  EXPECT_EQ(packed, ReadBytes(archivePath));
  EXPECT_EQ(Scrambled("third"), EntryOf(dir.Path("myarch.ssav"), ".sav"));

  r = Tool(dir, "autosave1.sav other extra");  // a name counts only as the last of two arguments
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ(Scrambled("third"), EntryOf(archivePath, ".sav"));
  EXPECT_EQ((std::vector<std::string>{"autosave1.sav", "autosave1.ssav", "myarch.ssav"}), Names(dir));
}

TEST(PackTest, MembersAreTheSavesOwnFiles) {
  ScratchDir dir;
  struct Member {
    const char* file;
    const char* entry;
    std::string bytes;
    bool scrambled;
  };
  std::vector<Member> members = {
      {"autosave1.sav", ".sav", TextBytes(900, 4), true},
      {"autosave1", "", "no extension", false},
      {"autosave1.empty", ".empty", "", false},
  };
#ifndef _WIN32  // one file on a case-insensitive file system
  members.push_back({"autosave1.SAV", ".SAV", TextBytes(800, 5), false});
#endif
  std::int64_t total = 0;
  for (const auto& m : members) {
    WriteBytes(dir.Path(m.file), m.bytes);
    total += static_cast<std::int64_t>(m.bytes.size());
  }
  WriteBytes(dir.Path("autosave1.old.sav"), "older save");
  WriteBytes(dir.Path("autosave1.sav.bak"), "backup");

  const ToolResult r = Tool(dir, "autosave1.sav");
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ(
      kBanner + Report(static_cast<std::int64_t>(members.size()), SizeOf(dir.Path("autosave1.ssav")), total),
      r.out);
  ExpectLines(r.err, "note: ", {"autosave1.old.sav", "autosave1.sav.bak"});
  Archive archive(dir.Path("autosave1.ssav").c_str(), /*create=*/false);
  ASSERT_TRUE(archive.IsOpen());
  EXPECT_EQ(static_cast<std::int32_t>(members.size()), archive.EntryCount());
  for (const auto& m : members) {
    SCOPED_TRACE(m.file);
    EXPECT_EQ(m.scrambled ? Scrambled(m.bytes) : m.bytes, Extracted(&archive, m.entry));
  }
  EXPECT_FALSE(archive.Contains(".bak"));
}

TEST(RoundTripTest, UnpackGivesBackEveryFileByteForByte) {
  const std::pair<std::string, std::string> kFiles[] = {
      {".sav", TextBytes(50000, 1)}, {".jpg", RandomBytes(20000, 2)}, {".txt", TextBytes(3000, 3)}};
  const struct {
    const char* args;
    std::string base;
  } kCases[] = {{"autosave1.sav", "autosave1"},
                {"autosave1.sav myarch", "myarch"}};  // the archive names the output
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.args);
    ScratchDir dir, elsewhere;
    for (const auto& f : kFiles) WriteBytes(dir.Path("autosave1" + f.first), f.second);
    const ToolResult packed = Tool(dir, c.args);
    ASSERT_EQ(0, packed.exitCode);
    const std::string archive = c.base + ".ssav";
    fs::rename(dir.Path(archive), elsewhere.Path(archive));

    const ToolResult r = Tool(elsewhere, archive + " ignored");
    EXPECT_EQ(0, r.exitCode);
    EXPECT_EQ("", r.err);
    EXPECT_EQ(packed.out, r.out);  // the same report both ways
    EXPECT_EQ(kBanner + Report(3, SizeOf(elsewhere.Path(archive)), 73000), r.out);
    for (const auto& f : kFiles) EXPECT_EQ(f.second, ReadBytes(elsewhere.Path(c.base + f.first))) << f.first;
    EXPECT_EQ(4u, Names(elsewhere).size());
  }
}

TEST(UnpackTest, WritesThreeFilesYetCountsEveryEntry) {
  ScratchDir dir;
  const std::vector<std::pair<std::string, std::string>> entries = {
      {".a", "aaaa"}, {".b", "bb"}, {".c", "c"}, {".d", "dddddd"}, {".e", ""}};
  MakeArchive(dir, "x.ssav", entries);

  const ToolResult r = Tool(dir, "x.ssav");
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ(kBanner + Report(5, SizeOf(dir.Path("x.ssav")), 13), r.out);
  int written = 0;
  std::vector<std::string> skipped;
  for (const auto& e : entries) {
    if (FileExists(dir.Path("x" + e.first))) {
      ++written;
      EXPECT_EQ(e.second, ReadBytes(dir.Path("x" + e.first)));
    } else {
      skipped.push_back("'" + e.first + "'");
    }
  }
  EXPECT_EQ(3, written);
  ExpectLines(r.err, "note: ", skipped);
}

TEST(UnpackTest, ReportsTheArchivesOwnNumbers) {
  const struct {
    const char* what;
    std::string bytes;
    std::string report;
    const char* file;
  } kCases[] = {
      {"empty archive", FromHex("4d585051 10000000 06000000 00000000"),
       "Total files in archive: \t0\nCompressed size: \t\t16\nOriginal size: \t\t\t0\nCompress ratio: "
       "\t\t0.00%\n",
       nullptr},
      {"one small entry", FromHex(kOneEntryArchive),
       "Total files in archive: \t1\nCompressed size: \t\t47\nOriginal size: \t\t\t3\nCompress ratio: "
       "\t\t-1466.67%\n",
       "x.txt"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    WriteBytes(dir.Path("x.ssav"), c.bytes);
    const ToolResult r = Tool(dir, "x.ssav");
    EXPECT_EQ(0, r.exitCode);
    EXPECT_EQ(kBanner + c.report, r.out);
    EXPECT_EQ("", r.err);
    EXPECT_EQ(c.bytes, ReadBytes(dir.Path("x.ssav")));  // reading never changes the archive
    EXPECT_EQ(c.file == nullptr ? 1u : 2u, Names(dir).size());
    if (c.file != nullptr) {
      EXPECT_EQ("abc", ReadBytes(dir.Path(c.file)));
    }
  }
}

// Packs the two-file save in `dir` and returns the archive's bytes.
std::string PackGoodArchive(const ScratchDir& dir) {
  WriteBytes(dir.Path("autosave1.sav"), TextBytes(4000, 8));
  WriteBytes(dir.Path("autosave1.jpg"), RandomBytes(1000, 9));
  EXPECT_EQ(0, Tool(dir, "autosave1.sav").exitCode);
  return ReadBytes(dir.Path("autosave1.ssav"));
}

TEST(PackFailureTest, FailedPackKeepsPreviousArchiveAndLeavesNothing) {
  struct Case {
    const char* what;
    void (*spoil)(const ScratchDir&);
    int code;
    const char* mention;
  };
  std::vector<Case> cases = {
      {"temporary cannot be created in the working directory",
       [](const ScratchDir& d) { fs::create_directory(d.Path("$tmp$")); }, 3, "autosave1.ssav"},
      {"pending archive cannot be created",
       [](const ScratchDir& d) { fs::create_directory(d.Path("autosave1.ssav.new")); }, 3,
       "autosave1.ssav.new"},
  };
#ifndef _WIN32  // making links there needs privileges
  cases.push_back({"member is a dangling link",
                   [](const ScratchDir& d) { fs::create_symlink("gone", d.Path("autosave1.png")); }, 1,
                   "autosave1.png"});
#endif
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    const std::string previous = PackGoodArchive(dir);
    WriteBytes(dir.Path("autosave1.sav"), "a newer save");
    c.spoil(dir);
    const std::vector<std::string> spoiled = Names(dir);

    const ToolResult r = Tool(dir, "autosave1.sav");
    EXPECT_EQ(c.code, r.exitCode);
    EXPECT_EQ(kBanner, r.out);  // no report
    ExpectLines(r.err, "error: ", {c.mention});
    EXPECT_EQ(previous, ReadBytes(dir.Path("autosave1.ssav")));
    EXPECT_EQ(spoiled, Names(dir));
  }
}

TEST(UnpackFailureTest, FailedWriteKeepsTheExistingFile) {
  ScratchDir dir;
  MakeArchive(dir, "x.ssav", {{".sav", Scrambled("restored save")}, {".jpg", "new picture"}});
  WriteBytes(dir.Path("x.jpg"), "old picture");
  fs::create_directory(dir.Path("x.jpg.part"));  // the temporary cannot be written

  const ToolResult r = Tool(dir, "x.ssav");
  EXPECT_EQ(3, r.exitCode);
  EXPECT_EQ(kBanner + Report(2, SizeOf(dir.Path("x.ssav")), 24), r.out);
  ExpectLines(r.err, "error: ", {"x.jpg.part"});
  EXPECT_EQ("old picture", ReadBytes(dir.Path("x.jpg")));
  EXPECT_EQ("restored save", ReadBytes(dir.Path("x.sav")));
}

TEST(UnpackFailureTest, RefusesNamesThatLeaveTheDirectoryOrHitTheArchive) {
  ScratchDir dir;
  MakeArchive(dir, "x.ssav", {{"/x", "1"}, {"\\x", "2"}, {":x", "3"}, {".ssav", "4"}, {".ok", "5"}});
  const std::string archiveBytes = ReadBytes(dir.Path("x.ssav"));

  const ToolResult r = Tool(dir, "x.ssav");
  EXPECT_EQ(3, r.exitCode);
  EXPECT_EQ(kBanner + Report(5, static_cast<std::int64_t>(archiveBytes.size()), 5), r.out);
  EXPECT_EQ(4, std::count(r.err.begin(), r.err.end(), '\n')) << r.err;
  for (const char* name : {"'/x'", "'\\x'", "':x'", "'.ssav'"}) {
    EXPECT_NE(std::string::npos, r.err.find(std::string("error: refusing entry ") + name)) << name << r.err;
  }
  EXPECT_EQ(archiveBytes, ReadBytes(dir.Path("x.ssav")));
  EXPECT_EQ("5", ReadBytes(dir.Path("x.ok")));
  EXPECT_EQ((std::vector<std::string>{"x.ok", "x.ssav"}), Names(dir));
}

TEST(UnpackFailureTest, RefusesAnEntryWhoseTemporaryIsAnotherEntrysFile) {
  // found by fuzzing: ".jpg" goes through "x.jpg.part", the very file the entry ".jpg.part" becomes
  const char* kPartNames[] = {".jpg.part",
#ifdef _WIN32  // the same file there, in any letter case or with trailing dots
                              ".JPG.PART", ".jpg.part."
#endif
  };
  for (const char* partName : kPartNames) {
    for (const bool partFirst : {false, true}) {
      SCOPED_TRACE(std::string(partName) + (partFirst ? " added first" : " added second"));
      ScratchDir dir;
      std::vector<std::pair<std::string, std::string>> entries = {{".jpg", "picture"},
                                                                  {partName, "not a leftover"}};
      if (partFirst) std::swap(entries[0], entries[1]);
      MakeArchive(dir, "x.ssav", entries);

      const ToolResult r = Tool(dir, "x.ssav");
      EXPECT_EQ(3, r.exitCode);
      ExpectLines(r.err, "error: ", {"refusing entry '.jpg'"});
      EXPECT_EQ("not a leftover", ReadBytes(dir.Path("x.jpg.part")));
      EXPECT_EQ(2u, Names(dir).size());
    }
  }
}

TEST(UnpackFailureTest, DamagedEntryFailsAloneAndUnknownFilesAreRefused) {
  ScratchDir dir;
  MakeArchive(dir, "x.ssav", {{".a", RandomBytes(3000, 10)}, {".b", "intact"}});
  std::string bytes = ReadBytes(dir.Path("x.ssav"));
  // the ".a" record comes first (its bucket is lower); flip a byte in the middle of its stream
  ASSERT_EQ(2u, DecodeFixed32(&bytes[16]));
  ASSERT_EQ(".a", bytes.substr(20, 2));
  const std::uint32_t offset = DecodeFixed32(&bytes[22]);
  const std::uint32_t stored = DecodeFixed32(&bytes[26]);
  bytes[offset + stored / 2] = static_cast<char>(bytes[offset + stored / 2] ^ 0x40);
  WriteBytes(dir.Path("x.ssav"), bytes);

  ToolResult r = Tool(dir, "x.ssav");
  EXPECT_EQ(3, r.exitCode);
  EXPECT_EQ(kBanner + Report(2, static_cast<std::int64_t>(bytes.size()), 3006), r.out);
  ExpectLines(r.err, "error: ", {"'.a'"});
  EXPECT_EQ("intact", ReadBytes(dir.Path("x.b")));
  EXPECT_EQ((std::vector<std::string>{"x.b", "x.ssav"}), Names(dir));

  const struct {
    const char* what;
    const char* name;
    void (*make)(const std::string&);
  } kNotArchives[] = {
      {"text file", "t.ssav", [](const std::string& p) { WriteBytes(p, "plain text, no archive here"); }},
      {"empty file", "e.ssav", [](const std::string& p) { WriteBytes(p, ""); }},
      {"directory", "d.ssav", [](const std::string& p) { fs::create_directory(p); }},
  };
  for (const auto& c : kNotArchives) {
    SCOPED_TRACE(c.what);
    c.make(dir.Path(c.name));
    r = Tool(dir, c.name);
    EXPECT_EQ(3, r.exitCode);
    EXPECT_EQ(kBanner, r.out);
    ExpectLines(r.err, "error: ", {c.name});
  }
}

#ifdef _WIN32
// Where Windows differs: its paths, its letter-case rules and the names it forbids.

TEST(CommandLineTest, NotFoundShowsTheWindowsPath) {
  ScratchDir dir;
  const ToolResult r = Tool(dir, "sub/../autosave1.sav");
  EXPECT_EQ(1, r.exitCode);
  ASSERT_EQ(0u, r.out.rfind(kBanner, 0)) << r.out;
  const std::string message = r.out.substr(sizeof kBanner - 1);
  // a drive letter, backslashes only, ".." folded away
  EXPECT_TRUE(std::regex_match(message, std::regex(R"(File [A-Za-z]:(\\[^\\/]+)+\\autosave1\.sav not found)")))
      << message;
  EXPECT_EQ(std::string::npos, message.find("sub")) << message;
}

TEST(PackTest, FindsTheSavesFilesInAnyLetterCase) {
  ScratchDir dir, elsewhere;
  const std::string sav = TextBytes(5000, 21), jpg = RandomBytes(2000, 22), txt = TextBytes(300, 23);
  WriteBytes(dir.Path("autosave1.SAV"), sav);
  WriteBytes(dir.Path("AUTOSAVE1.jpg"), jpg);
  WriteBytes(dir.Path("AutoSave1.txt"), txt);
  WriteBytes(dir.Path("autosave10.sav"), "another save");

  // the argument's letter case need not be the files'; the entries keep each file's own extension
  ToolResult r = Tool(dir, "autosave1.sav");
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ("", r.err);
  EXPECT_EQ(kBanner + Report(3, SizeOf(dir.Path("autosave1.ssav")), 7300), r.out);
  {
    Archive archive(dir.Path("autosave1.ssav").c_str(), /*create=*/false);
    ASSERT_TRUE(archive.IsOpen());
    EXPECT_EQ(3, archive.EntryCount());
    EXPECT_EQ(sav, Extracted(&archive, ".SAV"));  // ".SAV" is not ".sav": stored as it is
    EXPECT_EQ(jpg, Extracted(&archive, ".jpg"));
    EXPECT_EQ(txt, Extracted(&archive, ".txt"));
  }

  // an old archive under another letter case is the same file: replaced, never packed into itself
  const std::string archiveBytes = ReadBytes(dir.Path("autosave1.ssav"));
  fs::remove(dir.Path("autosave1.ssav"));
  WriteBytes(dir.Path("AUTOSAVE1.SSAV"), archiveBytes);
  const std::vector<std::string> before = Names(dir);
  ASSERT_EQ(1, std::count(before.begin(), before.end(), "AUTOSAVE1.SSAV"));
  r = Tool(dir, "autosave1.sav");
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ("", r.err);
  EXPECT_EQ(kBanner + Report(3, SizeOf(dir.Path("autosave1.ssav")), 7300), r.out);
  std::vector<std::string> names = Names(dir);  // which spelling the replaced archive keeps is the system's
  for (std::string& name : names) std::transform(name.begin(), name.end(), name.begin(), ::tolower);
  std::sort(names.begin(), names.end());
  EXPECT_EQ((std::vector<std::string>{"autosave1.jpg", "autosave1.sav", "autosave1.ssav", "autosave1.txt",
                                      "autosave10.sav"}),
            names);

  fs::copy_file(dir.Path("autosave1.ssav"), elsewhere.Path("autosave1.ssav"));
  r = Tool(elsewhere, "autosave1.ssav");
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ(sav, ReadBytes(elsewhere.Path("autosave1.SAV")));
  EXPECT_EQ(jpg, ReadBytes(elsewhere.Path("autosave1.jpg")));
  EXPECT_EQ(txt, ReadBytes(elsewhere.Path("autosave1.txt")));
}

TEST(PackFailureTest, ArchiveNameWindowsForbidsFailsCleanly) {
  ScratchDir dir;
  WriteBytes(dir.Path("autosave1.sav"), "save");
  const ToolResult r = Tool(dir, "autosave1.sav \"my|arch\"");
  EXPECT_EQ(3, r.exitCode);
  EXPECT_EQ(kBanner, r.out);
  ExpectLines(r.err, "error: ", {"my|arch.ssav"});
  EXPECT_EQ(std::vector<std::string>{"autosave1.sav"}, Names(dir));
}

TEST(UnpackFailureTest, RefusesTheArchiveUnderAnyOtherSpellingAndNamesWindowsForbids) {
  ScratchDir dir;
  // three spellings of x.ssav itself, two names no Windows file can have, and one good entry: the
  // two failed writes and the good one stay within the three files a run may write
  MakeArchive(dir, "x.ssav",
              {{".SSAV", "1"}, {".ssav.", "2"}, {".Ssav  ", "3"}, {".a*b", "4"}, {".x|y", "5"}, {".ok", "6"}});
  const std::string archiveBytes = ReadBytes(dir.Path("x.ssav"));

  const ToolResult r = Tool(dir, "x.ssav");
  EXPECT_EQ(3, r.exitCode);
  EXPECT_EQ(kBanner + Report(6, static_cast<std::int64_t>(archiveBytes.size()), 6), r.out);
  EXPECT_EQ(5, std::count(r.err.begin(), r.err.end(), '\n')) << r.err;
  for (const char* name : {"'.SSAV'", "'.ssav.'", "'.Ssav  '"}) {
    EXPECT_NE(std::string::npos, r.err.find(std::string("error: refusing entry ") + name)) << name << r.err;
  }
  for (const char* name : {"x.a*b", "x.x|y"}) EXPECT_NE(std::string::npos, r.err.find(name)) << name << r.err;
  EXPECT_EQ(archiveBytes, ReadBytes(dir.Path("x.ssav")));
  EXPECT_EQ("6", ReadBytes(dir.Path("x.ok")));
  EXPECT_EQ((std::vector<std::string>{"x.ok", "x.ssav"}), Names(dir));
}
#endif  // _WIN32

}  // namespace
}  // namespace tovrel
