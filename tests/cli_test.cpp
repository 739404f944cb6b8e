// End-to-end tests of the tool: the real binary runs in a fresh scratch directory, and what it prints,
// its exit code and the files it leaves are checked byte for byte. Archives are inspected, and built
// where a test needs an unusual one, through the archive library itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "archive/archive.h"
#include "archive/archive_format.h"
#include "core/scrambler.h"
#include "platform/platform.h"
#include "test_util.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define TOVREL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TOVREL_ASAN 1
#endif
#endif

namespace fs = std::filesystem;

namespace tovrel {
namespace {

using test::BlobOf;
using test::ExtractString;
using test::FileExists;
using test::FromHex;
using test::FsPath;
using test::RandomBytes;
using test::ReadBytes;
using test::ScratchDir;
using test::TextBytes;
using test::ToolResult;
using test::WriteBytes;
using Files = std::map<std::string, std::string>;  // name -> bytes

[[maybe_unused]] const auto* const kPool = ::testing::AddGlobalTestEnvironment(new test::DirectHeapPool);

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif
#ifdef TOVREL_ASAN
constexpr bool kSanitized = true;  // a sanitizer's shadow memory cannot live under `ulimit -v`
#else
constexpr bool kSanitized = false;
#endif

const char kBanner[] = "Brask Tovrel Utility ver. 1.0\nPacks and unpacks Brask saved games.\n\n";
const char kUsage[] =
    "Command usage:\n\tTovrel.exe arg1 [arg2]\n\n\t\targ1 - save name to convert\n"
    "\t\t\t.sav extension for packing and\n\t\t\t.ssav extension for unpacking\n"
    "\t\targ2 - (optional) archive name (valid for packing only)\nSample:\n"
    "Tovrel.exe autosave1.sav - Packs save named \"autosave1\"\n\t\t\t\tand create archive "
    "\"autosave1.ssav\"\n"
    "Tovrel.exe autosave1.sav myarch - Packs save named \"autosave1\"\n\t\t\t\tand create archive "
    "\"myarch.ssav\"\nTovrel.exe autosave1.ssav - Unpack archive \"autosave1.ssav\"\n";
// ".txt" holding "abc": header, one record, the 11-byte zlib stream of "abc"; 47 bytes in all
const char kOneEntryArchive[] =
    "4d585051 24000000 06000000 01000000 04000000 2e747874 24000000 0b000000 03000000 789c4b4c4a0600024d0127";
// the same stream claimed by two records
const char kOverlappingArchive[] =
    "4d585051 38000000 06000000 02000000 04000000 2e747874 38000000 0b000000 03000000 "
    "04000000 2e747875 38000000 0b000000 03000000 789c4b4c4a0600024d0127";
const char kNobody[] = "setpriv --reuid=nobody --regid=nogroup --clear-groups -- ";

// Runs the tool in `dir` (on POSIX under a timeout, so a hang fails instead of stalling the suite).
// Windows writes stdout and stderr in text mode: lines end in "\r\n" there.
ToolResult Tool(const std::string& dir, const std::string& args, const std::string& wrapper = "") {
  ToolResult r = test::RunTool(TOOL_PATH, dir, args, wrapper + "timeout 60 ");
  for (std::string* text : {&r.out, &r.err}) {
    std::size_t at;
    while ((at = text->find("\r\n")) != std::string::npos) text->erase(at, 1);
  }
  return r;
}
ToolResult Tool(const ScratchDir& dir, const std::string& args, const std::string& wrapper = "") {
  return Tool(dir.path(), args, wrapper);
}

// The four report lines for these numbers.
std::string Report(std::size_t files, std::int64_t archiveBytes, std::int64_t originalBytes) {
  char ratio[32];
  std::snprintf(ratio, sizeof ratio, "%.2f",
                originalBytes == 0 ? 0.0 : 100.0 - 100.0 * static_cast<double>(archiveBytes) / originalBytes);
  return "Total files in archive: \t" + std::to_string(files) + "\nCompressed size: \t\t" +
         std::to_string(archiveBytes) + "\nOriginal size: \t\t\t" + std::to_string(originalBytes) +
         "\nCompress ratio: \t\t" + ratio + "%\n";
}

std::int64_t SizeOf(const std::string& path) {
  return static_cast<std::int64_t>(fs::file_size(FsPath(path)));
}

// The names in `dir`, sorted.
std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(FsPath(dir))) names.push_back(e.path().filename().u8string());
  std::sort(names.begin(), names.end());
  return names;
}
std::vector<std::string> Names(const ScratchDir& dir) { return Names(dir.path()); }
// `err` is one line per mention, each starting with `prefix` and naming its mention (in any order).
void ExpectLines(const std::string& err, const std::string& prefix,
                 const std::vector<std::string>& mentions) {
  EXPECT_EQ(static_cast<std::ptrdiff_t>(mentions.size()), std::count(err.begin(), err.end(), '\n')) << err;
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

void WriteAll(const ScratchDir& dir, const Files& files) {
  for (const auto& [name, bytes] : files) WriteBytes(dir.Path(name), bytes);
}

// Builds the archive at `path` holding `entries` (name -> bytes).
void MakeArchive(const std::string& path, const Files& entries) {
  Archive archive = Archive::StartNew(path.c_str());
  for (auto [name, bytes] : entries) ASSERT_TRUE(archive.AddBlob(name.c_str(), BlobOf(bytes)));
  ASSERT_TRUE(archive.Save());
}

// Expects the archive at `path` to hold exactly the files of the save `base` in `save`, ".sav" scrambled.
void ExpectArchiveOf(const std::string& path, const std::string& base, const Files& save) {
  Archive archive(path.c_str(), /*create=*/false);
  ASSERT_TRUE(archive.IsOpen()) << path;
  EXPECT_EQ(static_cast<std::int32_t>(save.size()), archive.EntryCount());
  for (const auto& [file, bytes] : save) {
    const std::string entry = file.substr(base.size());
    EXPECT_EQ(entry == ".sav" ? Scrambled(bytes) : bytes, ExtractString(&archive, entry.c_str())) << file;
  }
}

// Runs `first`, then after `delay` `second`, at the same time, each as Tool(dir, args) would.
std::pair<ToolResult, ToolResult> RunTogether(const std::string& dir, const std::string& first,
                                              const std::string& second, int delayMs) {
  ToolResult a;
  std::thread thread([&] { a = Tool(dir, first); });
  std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
  ToolResult b = Tool(dir, second);
  thread.join();
  return {a, b};
}

// Whether this run can act as an unprivileged user for `dir` (POSIX, as root with setpriv); on Windows
// the read-only attribute needs no other user.
bool CanRunUnprivileged(const ScratchDir& dir) {
  return kWindows || (std::system("command -v setpriv >/dev/null && [ \"$(id -u)\" = 0 ]") == 0 &&
                      std::system(("chown nobody:nogroup '" + dir.path() + "'").c_str()) == 0);
}

// The offset of the fields after the name in the directory record of the entry `name`.
std::size_t FieldsOf(const std::string& archive, const std::string& name) {
  std::string record(4, '\0');
  test::PutFixed32(&record, 0, static_cast<std::uint32_t>(name.size()));
  return archive.find(record + name, kHeaderSize) + 4 + name.size();
}

// `path` in double quotes, as an argument for either platform's shell.
std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// One run per argument, each with its exact stdout, exit code and error lines.
TEST(CommandLineTest, EachArgumentGivesItsTextAndCode) {
  ScratchDir dir;
  const fs::path here = fs::canonical(FsPath(dir.path()));  // the tool sees the physical path
  const auto notFound = [&](const char* name) { return "File " + (here / name).u8string() + " not found"; };
  WriteBytes(dir.Path("x.txt"), "text");
  WriteBytes(dir.Path("y.SAV"), "upper case is not a save");
  WriteBytes(dir.Path("x.sav"), "save");
  WriteBytes(dir.Path("t.ssav"), "plain text, no archive here");
  fs::create_directory(FsPath(dir.Path("d.ssav")));
  WriteBytes(dir.Path("none.ssav"), FromHex("4d585051 10000000 06000000 00000000"));
  WriteBytes(dir.Path("abc.ssav"), FromHex(kOneEntryArchive));
  WriteBytes(dir.Path("two.ssav"), FromHex(kOverlappingArchive));
  WriteBytes(dir.Path("huge.ssav"), FromHex("4d585051 10000000 06000000 00000000"));
  fs::resize_file(FsPath(dir.Path("huge.ssav")), std::uintmax_t{1} << 31);  // sparse: one byte past the limit
  const std::string tooLong(kMaxPath, 'n');
  struct Case {
    const char* what;
    std::string args;
    int code;
    std::string out;                  // after the banner
    std::vector<std::string> errors;  // what each error line names
  };
  std::vector<Case> cases = {
      {"no argument", "", 2, kUsage, {}},
      {"relative missing save", "autosave1.sav", 1, notFound("autosave1.sav"), {}},
      {"other extension", "x.txt", 0, "", {}},
      {"extension in capitals", "y.SAV", 0, "", {}},
      {"argument too long", tooLong + ".sav", 1, "", {tooLong.substr(0, 20)}},
      {"archive name too long", "x.sav " + tooLong, 1, "", {tooLong.substr(0, 20)}},
      {"text file for an archive", "t.ssav", 3, "", {"t.ssav': it is not a well-formed archive"}},
      {"directory for an archive", "d.ssav", 3, "", {"d.ssav"}},
      {"streams that overlap", "two.ssav", 3, "", {"two.ssav': it is not a well-formed archive"}},
      {"archive of 2 GiB", "huge.ssav", 3, "", {"huge.ssav': it is not a well-formed archive"}},
      {"empty archive", "none.ssav", 0, Report(0, 16, 0), {}},
      {"one small entry", "abc.ssav", 0, Report(1, 47, 3), {}},
  };
#ifndef _WIN32
  mkfifo(dir.Path("p.ssav").c_str(), 0600);
  cases.push_back({"a FIFO for an archive, opened without waiting",
                   "p.ssav",
                   3,
                   "",
                   {"p.ssav': it is not a regular file"}});
#endif
  const std::vector<std::string> before = Names(dir);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const ToolResult r = Tool(dir, c.args);
    EXPECT_EQ(c.code, r.exitCode);
    EXPECT_EQ(kBanner + c.out, r.out);
    ExpectLines(r.err, "error: ", c.errors);
  }
  EXPECT_EQ("abc", ReadBytes(dir.Path("abc.txt")));
  EXPECT_EQ(FromHex(kOneEntryArchive), ReadBytes(dir.Path("abc.ssav")));  // reading never changes the archive
  std::vector<std::string> after = before;
  after.push_back("abc.txt");
  std::sort(after.begin(), after.end());
  EXPECT_EQ(after, Names(dir));
}

// Every file named <base> or <base>.<ext> is a member, under its own extension; ".sav" alone is stored
// scrambled. Files that only look alike, the user's own files named like temporaries, and a leftover of a
// killed run are neither packed nor touched.
TEST(PackTest, MembersAreTheSavesOwnFiles) {
  ScratchDir dir;
  // Windows finds the files in any letter case, and each entry keeps its own file's extension
  const Files save = {{kWindows ? "autosave1.txt" : "autosave1.sav", TextBytes(4000, 1)},
                      {kWindows ? "AUTOSAVE1.jpg" : "autosave1.jpg", RandomBytes(3000, 2)},
                      {kWindows ? "AutoSave1.SAV" : "autosave1.SAV", "upper case: no save, never scrambled"},
                      {"autosave1", "no extension"},
                      {"autosave1.empty", ""}};
  const Files others = {{"autosave1.old.sav", "1"},   {"autosave1.sav.bak", "2"},  {"autosave10.sav", "3"},
                        {"autosave1.ssav.new", "4"},  {"autosave1.sav.part", "5"}, {"$tmp$", "6"},
                        {"~tovrel-0123abcd.tmp", "7"}};
  WriteAll(dir, save);
  WriteAll(dir, others);
  fs::create_directory(FsPath(dir.Path("autosave1.dir")));  // a directory is no member, and no failure

  const ToolResult r = Tool(dir, "autosave1.sav");
  EXPECT_EQ(0, r.exitCode);
  std::int64_t total = 0;
  for (const auto& file : save) total += static_cast<std::int64_t>(file.second.size());
  EXPECT_EQ(kBanner + Report(save.size(), SizeOf(dir.Path("autosave1.ssav")), total), r.out);
  ExpectLines(r.err, "note: ",
              {"autosave1.old.sav", "autosave1.sav.bak", "autosave1.ssav.new", "autosave1.sav.part",
               "holds 5 files, but unpacking writes at most 3"});
  ExpectArchiveOf(dir.Path("autosave1.ssav"), "autosave1", save);
  for (const auto& [name, bytes] : others) EXPECT_EQ(bytes, ReadBytes(dir.Path(name))) << name;
  EXPECT_EQ(save.size() + others.size() + 2, Names(dir).size());  // and nothing else is left

  // unpacked elsewhere: the first three entries in table order are written, every entry is counted
  ScratchDir elsewhere;
  fs::copy_file(FsPath(dir.Path("autosave1.ssav")), FsPath(elsewhere.Path("autosave1.ssav")));
  const ToolResult unpacked = Tool(elsewhere, "autosave1.ssav");
  EXPECT_EQ(0, unpacked.exitCode);
  EXPECT_EQ(r.out, unpacked.out);
  std::vector<std::string> skipped;
  for (const auto& [file, bytes] : save) {
    const std::string name = "autosave1" + file.substr(9);
    if (FileExists(elsewhere.Path(name))) {
      EXPECT_EQ(bytes, ReadBytes(elsewhere.Path(name))) << name;
    } else {
      skipped.push_back("'" + file.substr(9) + "'");
    }
  }
  EXPECT_EQ(2u, skipped.size());
  ExpectLines(unpacked.err, "note: ", skipped);
}

// Packing again replaces the archive (never packing it into itself) and keeps its permissions; a second
// argument names the archive only when it is the last; and unpacked elsewhere over older files, each
// archive gives back every file byte for byte, the older files' permissions kept.
TEST(PackTest, ReplacesOnlyTheArchiveItNamesAndUnpacksByteForByte) {
  ScratchDir dir;
  Files files = {
      {".sav", TextBytes(50000, 1)}, {".jpg", RandomBytes(20000, 2)}, {".тхт", TextBytes(3000, 3)}};
  for (const auto& [ext, bytes] : files) WriteBytes(dir.Path("autosave1" + ext), bytes);
  ASSERT_EQ(0, Tool(dir, "autosave1.sav").exitCode);
  const std::string first = ReadBytes(dir.Path("autosave1.ssav"));
  fs::permissions(FsPath(dir.Path("autosave1.ssav")), fs::perms::owner_read | fs::perms::owner_write);
  const auto packAndUnpack = [&](const char* args, const std::string& base, const std::string& save) {
    SCOPED_TRACE(args);
    files[".sav"] = save;
    WriteBytes(dir.Path("autosave1.sav"), save);
    const ToolResult packed = Tool(dir, args);
    EXPECT_EQ(0, packed.exitCode);
    EXPECT_EQ("", packed.err);
    EXPECT_EQ(
        kBanner + Report(3, SizeOf(dir.Path(base + ".ssav")), 23000 + static_cast<std::int64_t>(save.size())),
        packed.out);
    Files packedFiles;
    for (const auto& [ext, bytes] : files) packedFiles[base + ext] = bytes;
    ExpectArchiveOf(dir.Path(base + ".ssav"), base, packedFiles);

    ScratchDir elsewhere;
    fs::copy_file(FsPath(dir.Path(base + ".ssav")), FsPath(elsewhere.Path(base + ".ssav")));
    WriteBytes(elsewhere.Path(base + ".sav"), "an older save, private");
    fs::permissions(FsPath(elsewhere.Path(base + ".sav")), fs::perms::owner_read | fs::perms::owner_write);
    const ToolResult r = Tool(elsewhere, base + ".ssav ignored");
    EXPECT_EQ(0, r.exitCode);
    EXPECT_EQ("", r.err);
    EXPECT_EQ(packed.out, r.out);  // the same report both ways
    for (const auto& [ext, bytes] : files) EXPECT_EQ(bytes, ReadBytes(elsewhere.Path(base + ext))) << ext;
    EXPECT_EQ(4u, Names(elsewhere).size());
    if (!kWindows) {
      EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write,
                fs::status(elsewhere.Path(base + ".sav")).permissions());
    }
  };
  packAndUnpack("autosave1.sav myarch", "myarch", TextBytes(40000, 4));
  EXPECT_EQ(first, ReadBytes(dir.Path("autosave1.ssav")));           // skipped without a word, left as it was
  packAndUnpack("autosave1.sav", "autosave1", TextBytes(30000, 5));  // replaced, never packed into itself
  packAndUnpack("autosave1.sav other extra", "autosave1", "fourth");
  if (!kWindows) {
    EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write,
              fs::status(dir.Path("autosave1.ssav")).permissions());
  }
  EXPECT_EQ(5u, Names(dir).size());
}

// A save in folders and under a base name outside any one code page, with a member named like the
// temporaries of old ("x.part"), packed and unpacked by relative paths in other such folders.
TEST(PackTest, NamesInAnyScriptRoundTrip) {
  ScratchDir root;
  const std::string from = "Сохранения 存档";
  const std::string to = "другая 文件夹";
  const std::string base = "сейв存档";
  fs::create_directory(FsPath(root.Path(from)));
  fs::create_directory(FsPath(root.Path(to)));
  const Files save = {
      {base, "no extension"}, {base + ".part", "not a temporary"}, {base + ".sav", TextBytes(9000, 6)}};
  for (const auto& [name, bytes] : save) WriteBytes(root.Path(from + "/" + name), bytes);

  ToolResult r = Tool(root, Quoted(from + "/" + base + ".sav"));
  ASSERT_EQ(0, r.exitCode) << r.err;
  fs::rename(FsPath(root.Path(from + "/" + base + ".ssav")), FsPath(root.Path(to + "/" + base + ".ssav")));
  r = Tool(root, Quoted(to + "/" + base + ".ssav"));
  EXPECT_EQ(0, r.exitCode) << r.err;
  EXPECT_EQ("", r.err);
  for (const auto& [name, bytes] : save) EXPECT_EQ(bytes, ReadBytes(root.Path(to + "/" + name))) << name;
  EXPECT_EQ(4u, Names(root.Path(to)).size());
}

// Runs that overlap in time, the first one long enough (20 MiB) to be saving while the second starts:
// each ends with its own complete, correct result.
TEST(ConcurrencyTest, RunsAtTheSameTimeKeepToThemselves) {
  ScratchDir dir;
  ScratchDir work;  // one working directory for every run
  const Files big = {{"a.sav", RandomBytes(20 << 20, 7)}, {"a.jpg", TextBytes(5000, 8)}};
  const Files small = {{"b.sav", TextBytes(7000, 9)}};
  WriteAll(dir, big);
  WriteAll(dir, small);
  const std::string a = Quoted(dir.Path("a.sav"));
  const std::string b = Quoted(dir.Path("b.sav"));
  for (const auto& [first, second] : {std::pair{a, b}, std::pair{a, a}}) {
    SCOPED_TRACE(first + " with " + second);
    const auto [ra, rb] = RunTogether(work.path(), first, second, 200);
    EXPECT_EQ(0, ra.exitCode) << ra.err;
    EXPECT_EQ(0, rb.exitCode) << rb.err;
    ExpectArchiveOf(dir.Path("a.ssav"), "a", big);
  }
  ExpectArchiveOf(dir.Path("b.ssav"), "b", small);
  EXPECT_TRUE(fs::is_empty(FsPath(work.path())));

  for (const auto& [name, bytes] : big) WriteBytes(dir.Path(name), "older");
  const std::string unpack = Quoted(dir.Path("a.ssav"));
  const auto [ra, rb] = RunTogether(work.path(), unpack, unpack, 200);
  EXPECT_EQ(0, ra.exitCode) << ra.err;
  EXPECT_EQ(0, rb.exitCode) << rb.err;
  for (const auto& [name, bytes] : big) EXPECT_TRUE(bytes == ReadBytes(dir.Path(name))) << name;
  EXPECT_EQ(5u, Names(dir).size());
}

// A pack that fails keeps the previous archive as it was, prints no report and leaves nothing behind.
TEST(PackFailureTest, FailedPackKeepsPreviousArchiveAndLeavesNothing) {
  struct Case {
    const char* what;
    void (*spoil)(const ScratchDir&);
    std::string args;
    int code;
    const char* mention;
    std::string wrapper;
  };
  std::vector<Case> cases = {
      {"archive name taken by a directory",
       [](const ScratchDir& d) { fs::create_directory(FsPath(d.Path("adir.ssav"))); }, "autosave1.sav adir",
       3, "adir.ssav", ""},
      {"member of 4 GiB + 5 bytes",
       [](const ScratchDir& d) {
         WriteBytes(d.Path("autosave1.big"), "");
         fs::resize_file(FsPath(d.Path("autosave1.big")), (std::uintmax_t{4} << 30) + 5);
       },
       "autosave1.sav", 1, "autosave1.big': it is 2 GiB or larger", ""},
#ifdef _WIN32
      {"archive name Windows forbids", [](const ScratchDir&) {}, "autosave1.sav \"my|arch\"", 3,
       "my|arch.ssav", ""},
#else
      {"member is a dangling link",
       [](const ScratchDir& d) { fs::create_symlink("gone", d.Path("autosave1.png")); }, "autosave1.sav", 1,
       "autosave1.png", ""},
      {"member is a FIFO, refused without waiting",
       [](const ScratchDir& d) { mkfifo(d.Path("autosave1.pipe").c_str(), 0600); }, "autosave1.sav", 1,
       "autosave1.pipe': it is not a regular file", ""},
#endif
  };
  if (!kWindows && !kSanitized) {
    cases.push_back({"member larger than the memory the run may use",
                     [](const ScratchDir& d) {
                       WriteBytes(d.Path("autosave1.big"), "");
                       fs::resize_file(d.Path("autosave1.big"), std::uintmax_t{1} << 30);
                     },
                     "autosave1.sav", 1, "autosave1.big': not enough memory", "ulimit -v 400000 && "});
  }
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

    const ToolResult r = Tool(dir, c.args, c.wrapper);
    EXPECT_EQ(c.code, r.exitCode);
    EXPECT_EQ(kBanner, r.out);  // no report
    ExpectLines(r.err, "error: ", {c.mention});
    EXPECT_EQ(previous, ReadBytes(dir.Path("autosave1.ssav")));
    EXPECT_EQ(spoiled, Names(dir));
  }
}

// Each bad entry fails alone with one error line; the others are written, the report still prints, and
// the run ends with code 3. The archive and what is in the way stay as they were.
TEST(UnpackFailureTest, BadEntriesFailAloneAndTheRunEndsInFailure) {
  struct Case {
    std::string what;
    Files entries;
    std::vector<std::string> errors;  // what each error line names
    Files written;
    std::string wrapper;
  };
  std::vector<Case> cases = {
      {"names that leave the folder or hit the archive",
       {{"/x", "1"}, {"\\x", "2"}, {":x", "3"}, {".ssav", "4"}, {".ok", "5"}},
       {"refusing entry '/x'", "refusing entry '\\x'", "refusing entry ':x'", "refusing entry '.ssav'"},
       {{".ok", "5"}},
       ""},
      // ".SAV" is no save: written as stored, never unscrambled
      {"a damaged stream",
       {{".a", RandomBytes(3000, 10)}, {".SAV", "as is"}},
       {"'.a' of"},
       {{".SAV", "as is"}},
       ""},
      {"a file that cannot be replaced",
       {{".png", "new"}, {".sav", Scrambled("restored save")}},
       {"x.png"},
       {{".sav", "restored save"}},
       ""},
#ifdef _WIN32  // the archive in other spellings, and names no Windows file can have
      {"Windows spellings",
       {{".SSAV", "1"}, {".ssav.", "2"}, {".Ssav  ", "3"}, {".a*b", "4"}, {".x|y", "5"}, {".ok", "6"}},
       {"refusing entry '.SSAV'", "refusing entry '.ssav.'", "refusing entry '.Ssav  '", "x.a*b", "x.x|y"},
       {{".ok", "6"}},
       ""},
#endif
  };
  if (!kWindows && !kSanitized) {
    cases.push_back({"an entry larger than the memory the run may use",
                     {{".big", RandomBytes(2100000, 11)}, {".ok", "fits"}},
                     {"x.ssav': not enough memory"},
                     {{".ok", "fits"}},
                     "ulimit -v 400000 && "});
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    MakeArchive(dir.Path("x.ssav"), c.entries);
    std::string archiveBytes = ReadBytes(dir.Path("x.ssav"));
    // ".a" is damaged in its middle; ".big" claims 2 GiB - 1 bytes (its 2.1 MB could inflate to that)
    if (c.entries.count(".a") != 0)
      archiveBytes[DecodeFixed32(&archiveBytes[FieldsOf(archiveBytes, ".a")]) + 1500] ^= 0x40;
    if (c.entries.count(".big") != 0)
      test::PutFixed32(&archiveBytes, FieldsOf(archiveBytes, ".big") + 8, 0x7FFFFFFF);
    WriteBytes(dir.Path("x.ssav"), archiveBytes);
    fs::create_directory(FsPath(dir.Path("x.png")));  // the entry ".png" cannot replace a directory
    std::int64_t total = 0;
    for (const auto& e : c.entries)
      total += e.first == ".big" ? 0x7FFFFFFF : static_cast<std::int64_t>(e.second.size());

    const ToolResult r = Tool(dir, "x.ssav", c.wrapper);
    EXPECT_EQ(3, r.exitCode);
    EXPECT_EQ(kBanner + Report(c.entries.size(), static_cast<std::int64_t>(archiveBytes.size()),
                               static_cast<std::int32_t>(total)),
              r.out);
    ExpectLines(r.err, "error: ", c.errors);
    EXPECT_EQ(archiveBytes, ReadBytes(dir.Path("x.ssav")));
    std::vector<std::string> names = {"x.png", "x.ssav"};
    for (const auto& [name, bytes] : c.written) {
      EXPECT_EQ(bytes, ReadBytes(dir.Path("x" + name)));
      names.push_back("x" + name);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, Names(dir));
  }
}

// An archive the user may only read still unpacks; a file the user may not write is not replaced.
TEST(UnpackFailureTest, ReadOnlyArchiveUnpacksButReadOnlyFilesStay) {
  ScratchDir dir;
  if (!CanRunUnprivileged(dir))
    GTEST_SKIP() << "cannot act as an unprivileged user here (needs root and setpriv)";
  MakeArchive(dir.Path("x.ssav"), {{".sav", Scrambled("the save")}, {".jpg", "new picture"}});
  WriteBytes(dir.Path("x.jpg"), "kept picture");
  const auto readOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  for (const char* name : {"x.ssav", "x.jpg"}) fs::permissions(FsPath(dir.Path(name)), readOnly);
  if (!kWindows)
    std::system(("chown nobody:nogroup '" + dir.Path("x.ssav") + "' '" + dir.Path("x.jpg") + "'").c_str());

  const ToolResult r = Tool(dir, "x.ssav", kWindows ? "" : kNobody);
  EXPECT_EQ(3, r.exitCode);
  ExpectLines(r.err, "error: ", {"read-only"});
  EXPECT_NE(std::string::npos, r.err.find("x.jpg")) << r.err;
  EXPECT_EQ("the save", ReadBytes(dir.Path("x.sav")));
  EXPECT_EQ("kept picture", ReadBytes(dir.Path("x.jpg")));
  EXPECT_EQ(3u, Names(dir).size());
  for (const char* name : {"x.ssav", "x.jpg"}) fs::permissions(FsPath(dir.Path(name)), fs::perms::owner_all);
}

#ifndef _WIN32
// "link/../x.ssav" names the file the kernel finds: the parent of the link's target, not of the link.
TEST(UnpackTest, DotDotAfterALinkIsTheKernels) {
  ScratchDir dir;
  fs::create_directories(dir.Path("saves/real"));
  fs::create_directory(dir.Path("a"));
  fs::create_symlink("../saves/real", dir.Path("a/lnk"));
  MakeArchive(dir.Path("saves/x.ssav"), {{".sav", Scrambled("the right save")}});
  MakeArchive(dir.Path("a/x.ssav"), {{".sav", Scrambled("another folder's save")}});
  const ToolResult r = Tool(dir, "a/lnk/../x.ssav");
  EXPECT_EQ(0, r.exitCode) << r.err;
  EXPECT_EQ("the right save", ReadBytes(dir.Path("saves/x.sav")));
  EXPECT_FALSE(FileExists(dir.Path("a/x.sav")));
  EXPECT_EQ(
      kBanner + std::string("File ") + fs::canonical(dir.path()).string() + "/a/lnk/../y.ssav not found",
      Tool(dir, "a/lnk/../y.ssav").out);
}
#endif

}  // namespace
}  // namespace tovrel
