// End-to-end tests of the tool: the real binary runs in a fresh scratch directory, and what it prints,
// its exit code and the files it leaves are checked byte for byte. Archives are inspected, and built
// where a test needs an unusual one, through the archive library itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "archive/archive.h"
#include "archive/archive_format.h"
#include "core/scrambler.h"
#include "platform/platform.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace tovrel {
namespace {

using test::BlobOf;
using test::CurrentDir;
using test::ExtractString;
using test::FileExists;
using test::FromHex;
using test::RandomBytes;
using test::ReadBytes;
using test::ScratchDir;
using test::TextBytes;
using test::ToolResult;
using test::WriteBytes;
using Entries = std::vector<std::pair<std::string, std::string>>;  // (name, bytes)

[[maybe_unused]] const auto* const kPool = ::testing::AddGlobalTestEnvironment(new test::DirectHeapPool);

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
std::string Report(std::size_t files, std::int64_t archiveBytes, std::int64_t originalBytes) {
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

// `names` sorted, in lower case on Windows, where letter case names no other file.
std::vector<std::string> Sorted(std::vector<std::string> names) {
#ifdef _WIN32
  for (std::string& name : names) {
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
  }
#endif
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> Names(const ScratchDir& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
  return Sorted(names);
}

// `err` is one line per mention, each starting with `prefix` and naming its mention (in any order).
void ExpectLines(const std::string& err, const std::string& prefix,
                 const std::vector<std::string>& mentions) {
  EXPECT_EQ(static_cast<std::ptrdiff_t>(mentions.size()), std::count(err.begin(), err.end(), '\n')) << err;
  EXPECT_TRUE(err.empty() || err.back() == '\n') << err;
  for (const std::string& m : mentions) {
    const std::size_t at = err.find(m);
    ASSERT_NE(std::string::npos, at) << "no line names " << m << " in:\n" << err;
    EXPECT_EQ(0, err.compare(err.rfind('\n', at) + 1, prefix.size(), prefix)) << err;  // npos + 1 is 0
  }
}

std::string Scrambled(std::string bytes) {
  ScrambleSaveData(reinterpret_cast<unsigned char*>(&bytes[0]), static_cast<std::uint32_t>(bytes.size()),
                   kScrambleKey);
  return bytes;
}

// Builds the archive `name` in `dir` holding `entries`, saved from inside `dir`.
void MakeArchive(const ScratchDir& dir, const std::string& name, Entries entries) {
  CurrentDir cwd(dir.path());  // the save goes through a temporary in the working directory
  Archive archive(dir.Path(name).c_str(), /*create=*/true);
  ASSERT_TRUE(archive.IsOpen());
  for (auto& [entry, bytes] : entries) ASSERT_TRUE(archive.AddBlob(entry.c_str(), BlobOf(bytes)));
  ASSERT_TRUE(archive.Save());
}

// The entry `name` of the archive at `path`.
std::string EntryOf(const std::string& path, const char* name) {
  Archive archive(path.c_str(), /*create=*/false);
  EXPECT_TRUE(archive.IsOpen()) << path;
  return archive.IsOpen() ? ExtractString(&archive, name) : std::string();
}

// One run per argument, each with its exact stdout, exit code and error lines.
TEST(CommandLineTest, EachArgumentGivesItsTextAndCode) {
  ScratchDir dir;
  const fs::path here = fs::canonical(dir.path());  // the tool sees the physical path
  const auto notFound = [&](const char* name) { return "File " + (here / name).string() + " not found"; };
  WriteBytes(dir.Path("x.txt"), "text");
  WriteBytes(dir.Path("y.SAV"), "upper case is not a save");
  WriteBytes(dir.Path("x.sav"), "save");
  WriteBytes(dir.Path("t.ssav"), "plain text, no archive here");
  fs::create_directory(dir.Path("d.ssav"));
  WriteBytes(dir.Path("none.ssav"), FromHex("4d585051 10000000 06000000 00000000"));
  WriteBytes(dir.Path("abc.ssav"), FromHex(kOneEntryArchive));
  const std::string tooLong(kMaxPath, 'n');
  const char kEmptyReport[] =
      "Total files in archive: \t0\nCompressed size: \t\t16\nOriginal size: \t\t\t0\nCompress ratio: "
      "\t\t0.00%\n";
  const char kOneEntryReport[] =
      "Total files in archive: \t1\nCompressed size: \t\t47\nOriginal size: \t\t\t3\nCompress ratio: "
      "\t\t-1466.67%\n";
  const struct {
    const char* what;
    std::string args;
    int code;
    std::string out;                  // after the banner
    std::vector<std::string> errors;  // what each error line names
  } kCases[] = {
      {"no argument", "", 2, kUsage, {}},
      {"relative missing save", "autosave1.sav", 1, notFound("autosave1.sav"), {}},
      {"missing archive", "sub/../a.ssav", 1, notFound("a.ssav"), {}},
      {"other extension", "x.txt", 0, "", {}},
      {"extension in capitals", "y.SAV", 0, "", {}},
      {"argument too long", tooLong + ".sav", 1, "", {tooLong.substr(0, 20)}},
      {"archive name too long", "x.sav " + tooLong, 1, "", {tooLong.substr(0, 20)}},
      {"text file for an archive", "t.ssav", 3, "", {"t.ssav"}},
      {"directory for an archive", "d.ssav", 3, "", {"d.ssav"}},
      {"empty archive", "none.ssav", 0, kEmptyReport, {}},
      {"one small entry", "abc.ssav", 0, kOneEntryReport, {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    const ToolResult r = Tool(dir, c.args);
    EXPECT_EQ(c.code, r.exitCode);
    EXPECT_EQ(kBanner + c.out, r.out);
    ExpectLines(r.err, "error: ", c.errors);
  }
  EXPECT_EQ("abc", ReadBytes(dir.Path("abc.txt")));
  EXPECT_EQ(FromHex(kOneEntryArchive), ReadBytes(dir.Path("abc.ssav")));  // reading never changes the archive
  EXPECT_EQ(Sorted({"abc.ssav", "abc.txt", "d.ssav", "none.ssav", "t.ssav", "x.sav", "x.txt", "y.SAV"}),
            Names(dir));
#ifdef _WIN32  // a drive letter, backslashes only, ".." folded away
  const std::string shown = Tool(dir, "sub/../autosave1.sav").out.substr(sizeof kBanner - 1);
  EXPECT_EQ(std::string::npos, shown.find("sub")) << shown;
  EXPECT_TRUE(std::regex_match(shown, std::regex(R"(File [A-Za-z]:(\\[^\\/]+)+\\autosave1\.sav not found)")))
      << shown;
#endif
}

TEST(PackTest, MembersAreTheSavesOwnFiles) {
  ScratchDir dir;
  // (file, entry): ".sav" alone is stored scrambled. Windows finds the files in any letter case, and
  // each entry keeps its own file's extension.
  const Entries members = {
#ifdef _WIN32
      {"AutoSave1.SAV", ".SAV"},
      {"AUTOSAVE1.jpg", ".jpg"},
#else
      {"autosave1.sav", ".sav"},
      {"autosave1.SAV", ".SAV"},
      {"autosave1.jpg", ".jpg"},
#endif
      {"autosave1", ""},
      {"autosave1.empty", ".empty"}};
  std::vector<std::string> names = {"autosave1.dir", "autosave1.old.sav", "autosave1.sav.bak",
                                    "autosave1.ssav", "autosave10.sav"};
  fs::create_directory(dir.Path("autosave1.dir"));  // a directory is no member, and no failure
  for (const char* other : {"autosave1.old.sav", "autosave1.sav.bak", "autosave10.sav"})
    WriteBytes(dir.Path(other), other);
  std::int64_t total = 0;
  for (const auto& [file, entry] : members) {
    WriteBytes(dir.Path(file), entry == ".empty" ? "" : TextBytes(4000, static_cast<std::uint32_t>(total)));
    total += SizeOf(dir.Path(file));
    names.push_back(file);
  }

  const ToolResult r = Tool(dir, "autosave1.sav");
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ(kBanner + Report(members.size(), SizeOf(dir.Path("autosave1.ssav")), total), r.out);
  ExpectLines(r.err, "note: ", {"autosave1.old.sav", "autosave1.sav.bak"});
  Archive archive(dir.Path("autosave1.ssav").c_str(), /*create=*/false);
  ASSERT_TRUE(archive.IsOpen());
  EXPECT_EQ(static_cast<std::int32_t>(members.size()), archive.EntryCount());
  for (const auto& [file, entry] : members) {
    const std::string bytes = ReadBytes(dir.Path(file));
    EXPECT_EQ(entry == ".sav" ? Scrambled(bytes) : bytes, ExtractString(&archive, entry.c_str())) << file;
  }
  EXPECT_EQ(Sorted(names), Names(dir));  // nothing else is left behind: no pending file, no temporary
}

// Packing again replaces the archive (never packing it into itself); a second argument names the
// archive only when it is the last; and unpacked elsewhere, each archive gives back every file.
TEST(PackTest, ReplacesOnlyTheArchiveItNamesAndUnpacksByteForByte) {
  ScratchDir dir;
  Entries files = {
      {".sav", TextBytes(50000, 1)}, {".jpg", RandomBytes(20000, 2)}, {".txt", TextBytes(3000, 3)}};
  for (const auto& [ext, bytes] : files) WriteBytes(dir.Path("autosave1" + ext), bytes);
  ASSERT_EQ(0, Tool(dir, "autosave1.sav").exitCode);
  const std::string first = ReadBytes(dir.Path("autosave1.ssav"));
  const auto packAndUnpack = [&](const char* args, const std::string& base, const std::string& save) {
    SCOPED_TRACE(args);
    files[0].second = save;
    WriteBytes(dir.Path("autosave1.sav"), save);
    const ToolResult packed = Tool(dir, args);
    EXPECT_EQ(0, packed.exitCode);
    EXPECT_EQ("", packed.err);
    EXPECT_EQ(
        kBanner + Report(3, SizeOf(dir.Path(base + ".ssav")), 23000 + static_cast<std::int64_t>(save.size())),
        packed.out);
    EXPECT_EQ(Scrambled(save), EntryOf(dir.Path(base + ".ssav"), ".sav"));

    ScratchDir elsewhere;
    fs::copy_file(dir.Path(base + ".ssav"), elsewhere.Path(base + ".ssav"));
    const ToolResult r = Tool(elsewhere, base + ".ssav ignored");
    EXPECT_EQ(0, r.exitCode);
    EXPECT_EQ("", r.err);
    EXPECT_EQ(packed.out, r.out);  // the same report both ways
    for (const auto& [ext, bytes] : files) EXPECT_EQ(bytes, ReadBytes(elsewhere.Path(base + ext))) << ext;
    EXPECT_EQ(4u, Names(elsewhere).size());
  };
#ifdef _WIN32  // the old archive under another letter case is the same file (a rename would keep the case)
  fs::remove(dir.Path("autosave1.ssav"));
  WriteBytes(dir.Path("AUTOSAVE1.SSAV"), first);
#endif
  packAndUnpack("autosave1.sav myarch", "myarch", TextBytes(40000, 4));
  EXPECT_EQ(first, ReadBytes(dir.Path("autosave1.ssav")));  // skipped without a word, left as it was
  packAndUnpack("autosave1.sav", "autosave1", TextBytes(30000, 5));  // replaced, never packed into itself
  packAndUnpack("autosave1.sav other extra", "autosave1", "fourth");
  EXPECT_EQ(Sorted({"autosave1.jpg", "autosave1.sav", "autosave1.ssav", "autosave1.txt", "myarch.ssav"}),
            Names(dir));
}

TEST(UnpackTest, WritesThreeFilesYetCountsEveryEntry) {
  ScratchDir dir;
  const Entries entries = {{".a", "aaaa"}, {".b", "bb"}, {".c", "c"}, {".d", "dddddd"}, {".e", ""}};
  MakeArchive(dir, "x.ssav", entries);
  const ToolResult r = Tool(dir, "x.ssav");
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ(kBanner + Report(5, SizeOf(dir.Path("x.ssav")), 13), r.out);
  std::vector<std::string> skipped;
  for (const auto& [name, bytes] : entries) {
    if (FileExists(dir.Path("x" + name))) {
      EXPECT_EQ(bytes, ReadBytes(dir.Path("x" + name)));
    } else {
      skipped.push_back("'" + name + "'");
    }
  }
  EXPECT_EQ(2u, skipped.size());
  ExpectLines(r.err, "note: ", skipped);
}

TEST(PackFailureTest, FailedPackKeepsPreviousArchiveAndLeavesNothing) {
  struct Case {
    const char* what;
    void (*spoil)(const ScratchDir&);
    const char* args;
    int code;
    const char* mention;
  };
  std::vector<Case> cases = {
      {"temporary cannot be created in the working directory",
       [](const ScratchDir& d) { fs::create_directory(d.Path("$tmp$")); }, "autosave1.sav", 3,
       "autosave1.ssav"},
      {"pending archive cannot be created",
       [](const ScratchDir& d) { fs::create_directory(d.Path("autosave1.ssav.new")); }, "autosave1.sav", 3,
       "autosave1.ssav.new"},
#ifdef _WIN32
      {"archive name Windows forbids", [](const ScratchDir&) {}, "autosave1.sav \"my|arch\"", 3,
       "my|arch.ssav"},
#else  // making links on Windows needs privileges
      {"member is a dangling link",
       [](const ScratchDir& d) { fs::create_symlink("gone", d.Path("autosave1.png")); }, "autosave1.sav", 1,
       "autosave1.png"},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    WriteBytes(dir.Path("autosave1.sav"), TextBytes(4000, 8));
    WriteBytes(dir.Path("autosave1.jpg"), RandomBytes(1000, 9));
    ASSERT_EQ(0, Tool(dir, "autosave1.sav").exitCode);
    const std::string previous = ReadBytes(dir.Path("autosave1.ssav"));
    WriteBytes(dir.Path("autosave1.sav"), "a newer save");
    c.spoil(dir);
    const std::vector<std::string> spoiled = Names(dir);

    const ToolResult r = Tool(dir, c.args);
    EXPECT_EQ(c.code, r.exitCode);
    EXPECT_EQ(kBanner, r.out);  // no report
    ExpectLines(r.err, "error: ", {c.mention});
    EXPECT_EQ(previous, ReadBytes(dir.Path("autosave1.ssav")));
    EXPECT_EQ(spoiled, Names(dir));
  }
}

// Flips a byte in the middle of the stream of the entry `name`, if any, in the archive at `path`.
void DamageStream(const std::string& path, const std::string& name) {
  std::string bytes = ReadBytes(path);
  std::string record(4, '\0');
  EncodeFixed32(&record[0], static_cast<std::uint32_t>(name.size()));
  const std::size_t found = bytes.find(record + name, kHeaderSize);
  if (found == std::string::npos) return;
  const std::size_t at = found + 4 + name.size();
  const std::uint32_t middle = DecodeFixed32(&bytes[at]) + DecodeFixed32(&bytes[at + 4]) / 2;
  bytes[middle] = static_cast<char>(bytes[middle] ^ 0x40);
  WriteBytes(path, bytes);
}

// Each bad entry fails alone with one error line; the others are written, the report still prints, and
// the run ends with code 3. An existing file is never replaced by a failed write.
TEST(UnpackFailureTest, BadEntriesFailAloneAndTheRunEndsInFailure) {
  struct Case {
    std::string what;
    Entries entries;
    std::vector<std::string> errors;  // what each error line names
    Entries written;
  };
  std::vector<Case> cases = {
      {"names that leave the folder or hit the archive",
       {{"/x", "1"}, {"\\x", "2"}, {":x", "3"}, {".ssav", "4"}, {".ok", "5"}},
       {"refusing entry '/x'", "refusing entry '\\x'", "refusing entry ':x'", "refusing entry '.ssav'"},
       {{".ok", "5"}}},
      // ".SAV" is no save: written as stored, never unscrambled
      {"a damaged stream", {{".a", RandomBytes(3000, 10)}, {".SAV", "as is"}}, {"'.a'"}, {{".SAV", "as is"}}},
      {"a write that fails",
       {{".png", "new"}, {".sav", Scrambled("restored save")}},
       {"x.png.part"},
       {{".sav", "restored save"}}},
#ifdef _WIN32  // the archive in other spellings, and names no Windows file can have (two writes that fail)
      {"Windows spellings",
       {{".SSAV", "1"}, {".ssav.", "2"}, {".Ssav  ", "3"}, {".a*b", "4"}, {".x|y", "5"}, {".ok", "6"}},
       {"refusing entry '.SSAV'", "refusing entry '.ssav.'", "refusing entry '.Ssav  '", "x.a*b", "x.x|y"},
       {{".ok", "6"}}},
#endif
  };
  // found by fuzzing: ".jpg" goes through "x.jpg.part", the very file the entry ".jpg.part" becomes
  const char* kPartNames[] = {".jpg.part",
#ifdef _WIN32  // the same file there, in any letter case or with trailing dots
                              ".JPG.PART", ".jpg.part."
#endif
  };
  const Entries kept = {{".jpg.part", "not a leftover"}};
  for (const char* partName : kPartNames) {
    Entries entries = {{".jpg", "picture"}, {partName, "not a leftover"}};
    for (const char* order : {" added second", " added first"}) {
      cases.push_back({std::string(partName) + order, entries, {"refusing entry '.jpg'"}, kept});
      std::swap(entries[0], entries[1]);
    }
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    MakeArchive(dir, "x.ssav", c.entries);
    DamageStream(dir.Path("x.ssav"), ".a");
    WriteBytes(dir.Path("x.png"), "old picture");
    fs::create_directory(dir.Path("x.png.part"));  // the temporary of ".png" cannot be written
    const std::string archiveBytes = ReadBytes(dir.Path("x.ssav"));
    std::int64_t total = 0;
    for (const auto& e : c.entries) total += static_cast<std::int64_t>(e.second.size());

    const ToolResult r = Tool(dir, "x.ssav");
    EXPECT_EQ(3, r.exitCode);
    EXPECT_EQ(kBanner + Report(c.entries.size(), static_cast<std::int64_t>(archiveBytes.size()), total),
              r.out);
    ExpectLines(r.err, "error: ", c.errors);
    EXPECT_EQ(archiveBytes, ReadBytes(dir.Path("x.ssav")));
    EXPECT_EQ("old picture", ReadBytes(dir.Path("x.png")));
    std::vector<std::string> names = {"x.png", "x.png.part", "x.ssav"};
    for (const auto& [name, bytes] : c.written) {
      EXPECT_EQ(bytes, ReadBytes(dir.Path("x" + name)));
      names.push_back("x" + name);
    }
    EXPECT_EQ(Sorted(names), Names(dir));
  }
}

}  // namespace
}  // namespace tovrel
