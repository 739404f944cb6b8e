// End-to-end tests of the tool: the real binary runs in a fresh scratch directory, and what it prints,
// its exit code and the files it leaves are checked byte for byte. Archives are inspected, and built
// where a test needs an unusual one, through the archive library itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/console.h"
#include "app/page_export.h"
#include "app/plan.h"
#include "archive/archive.h"
#include "archive/archive_format.h"
#include "platform/platform.h"
#include "test_util.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TOVREL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TOVREL_ASAN 1
#endif
#endif

namespace fs = std::filesystem;

namespace tovrel::test {
namespace {

[[maybe_unused]] const auto* const kPool = ::testing::AddGlobalTestEnvironment(new DirectHeapPool);

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
const std::string kHelp =
    kUsage + std::string(
                 "Options:\n\t-l, --list ARCHIVE.ssav...\tlist the entries and what unpacking writes\n"
                 "\t-t, --test ARCHIVE.ssav...\tcheck every entry; writes nothing\n\t-h, --help, "
                 "/?\t\t\tshow this text\n"
                 "\t--version\t\t\tshow the version\n"
                 "\t--\t\t\t\tend the options: a file named \"-x\" is given as -- -x or ./-x\n"
                 "Two or more .sav or .ssav files are packed or unpacked one after another.\n");
const char kLowMemory[] = "ulimit -v 400000 && ";
const char kNobody[] = "setpriv --reuid=nobody --regid=nogroup --clear-groups -- ";

// What one run of the tool printed, and its exit code.
struct ToolResult {
  int exitCode;
  std::string out;
  std::string err;
};

// Runs the tool with `args` (quoted as the shell needs) in `dir`, stdin empty, after the POSIX shell
// prefix `wrapper`, under a timeout so that a hang fails instead of stalling the suite. Windows writes in
// text mode: "\r\n" becomes "\n" here.
ToolResult Tool(const std::string& dir, const std::string& args, const std::string& wrapper = "",
                const std::string& tool = TOOL_PATH) {
  ScratchDir capture;
  const std::string out = capture.Path("stdout"), err = capture.Path("stderr");
#ifdef _WIN32
  (void)wrapper;
  (void)tool;
  const std::string command = "\"cd /d \"" + dir + "\" && \"" TOOL_PATH "\" " + args + " <NUL >\"" + out +
                              "\" 2>\"" + err + "\"\"";  // cmd.exe strips the outer quotes
  // as UTF-16, so names outside the ANSI code page reach cmd.exe whole
  const int exitCode = _wsystem(FsPath(command).wstring().c_str());
#else
  const std::string command = "cd '" + dir + "' && " + wrapper + "timeout 60 '" + tool + "' " + args +
                              " </dev/null >'" + out + "' 2>'" + err + "'";
  const int status = std::system(command.c_str());
  const int exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
  ToolResult r{exitCode, ReadBytes(out), ReadBytes(err)};
  for (std::string* text : {&r.out, &r.err}) {
    for (std::size_t at; (at = text->find("\r\n")) != std::string::npos;) text->erase(at, 1);
  }
  return r;
}

// The four report lines for these numbers, the ratio as written down.
std::string Report(std::size_t files, std::int64_t archiveBytes, std::int64_t originalBytes,
                   const std::string& ratio) {
  return "Total files in archive: \t" + std::to_string(files) + "\nCompressed size: \t\t" +
         std::to_string(archiveBytes) + "\nOriginal size: \t\t\t" + std::to_string(originalBytes) +
         "\nCompress ratio: \t\t" + ratio + "%\n";
}

// The ratio of a report whose archive's length depends on the zlib build: it cannot be written down.
const char kAnyRatio[] = "<ratio>";

// `out` with the number on each ratio line replaced by kAnyRatio.
std::string AnyRatio(std::string out) {
  const std::string line = "Compress ratio: \t\t";
  for (std::size_t at = out.find(line); at != std::string::npos; at = out.find(line, at + 1)) {
    const std::size_t from = at + line.size(), to = out.find('%', from);
    if (to != std::string::npos) out.replace(from, to - from, kAnyRatio);
  }
  return out;
}

std::size_t Count(const std::string& dir) {
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator(FsPath(dir)), fs::directory_iterator()));
}

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

// Builds the archive at `path` holding `entries` (name -> bytes).
void MakeArchive(const std::string& path, const Files& entries) {
  Archive archive = Archive::StartNew(path.c_str());
  for (auto [name, bytes] : entries) ASSERT_TRUE(archive.AddBlob(name.c_str(), BlobOf(bytes)));
  ASSERT_TRUE(archive.Save());
}

// The offset of the fields after the name in the directory record of the entry `name` of `archive`.
std::size_t FieldsOf(const std::string& archive, const std::string& name) {
  std::string record(4, '\0');
  EncodeFixed32(&record[0], static_cast<std::uint32_t>(name.size()));
  return archive.find(record + name, kHeaderSize) + 4 + name.size();
}

// `path` in double quotes, as an argument for either platform's shell.
std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// `plan` in a few words: "help", "version", "usage[: error]" or its runs ("pack a.sav>name, unpack b.ssav";
// "pack a.sav>" when the archive's name given is empty).
std::string Describe(const Plan& plan) {
  static const char* const kActions[] = {"", "help", "version", "usage"};
  static const char* const kModes[] = {"pack", "unpack", "list", "test", "nothing"};
  std::string text = kActions[static_cast<int>(plan.action)] + (plan.error.empty() ? "" : ": " + plan.error);
  for (const Run& run : plan.runs) {
    text += (text.empty() ? "" : ", ") + std::string(kModes[static_cast<int>(run.mode)]) + " " +
            run.target.given + (run.archiveName ? ">" + *run.archiveName : "");
  }
  return text;
}

// What each argument list asks for, decided before anything runs, among files that exist or not. And
// what the page is told of the files a player gave it, all in the one folder its runs happen in: their
// plan as files given together (never a command line: no option, no archive's name), and, as the
// folder is when it asks, the files each run reads.
TEST(PlanTest, ArgumentsAndFilesGivenTogetherMakeTheirPlan) {
  ScratchDir dir;
  WriteAll(dir, {{"a.sav", "a"},
                 {"a.jpg", "aa"},
                 {"a.old.sav", "o"},
                 {"b.sav", "b"},
                 {"b.ssav", ""},
                 {"c.ssav", ""},
                 {"n.txt", ""},
                 {"-x.sav", ""},
                 {"-l", ""}});
  const fs::path before = fs::current_path();
  fs::current_path(FsPath(dir.path()));
  const std::string wildcards =
      kWindows ? "pack -x.sav, pack a.old.sav, pack a.sav, pack b.sav" : "pack *.sav";  // POSIX shells expand
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "usage"},
      {{"/?"}, "help"},
      {{"a.sav", "-y"}, "usage: unknown option '-y' (a file of that name is given as ./-y)"},
      {{"-x.sav"}, "pack -x.sav"},  // an existing file is no option
      {{"--", "-y.sav", "--help"}, "pack -y.sav>--help"},
      {{"--list"}, "usage: --list needs the path of a .ssav archive"},
      {{"-l", "c.ssav", "--test"}, "usage: -l and --test cannot be used together"},
      {{"c.ssav", "-l", "d.ssav"}, "list c.ssav, list d.ssav"},
      {{"a.sav", "n.txt"}, "pack a.sav>n.txt"},
      {{"a.sav", ""}, "pack a.sav>"},  // an empty name is a name: the archive is ".ssav"
      {{"missing.sav", "a.sav"}, "pack missing.sav>a.sav"},
      {{"a.sav", "myarch", "extra"}, "pack a.sav"},
      {{"n.txt", "a", "b"}, "nothing n.txt"},
      {{"b.sav", "a.sav"}, "pack a.sav, pack b.sav"},
      {{"a.jpg", "a.sav"}, "pack a.sav"},  // the files of one save, given together
      {{"b.sav", "c.ssav", "missing.sav", "a.jpg"}, "pack b.sav, unpack c.ssav, pack missing.sav"},
      {{"*.sav"}, wildcards},
      {{"*.none"}, "nothing *.none"},
  };
  for (const auto& [args, expected] : cases) {
    std::string shown;
    for (const std::string& arg : args) shown += arg + " ";
    SCOPED_TRACE(shown);
    EXPECT_EQ(expected, Describe(MakePlan(args)));
  }
  const char kNoArchive[] = "None of these files is an archive (.ssav).";
  const char kNoRun[] = "None of these files is a save (.sav) or an archive (.ssav).";
  const std::vector<std::tuple<std::string, std::string, std::string, std::string>> files = {
      // any name written so that JSON reads it back
      {"a.sav/n.txt/a.old.sav//q\"\\\n.ssav", "", R"("a.old.sav","a.sav","q\"\\\u000a.ssav")", ""},
      {"a.sav/myarch", "", R"("a.sav")", ""},
      {"-l/b.ssav/-t", "", R"("b.ssav")", ""},
      {"a.sav/b.ssav/c.ssav", "list", R"("b.ssav","c.ssav")", ""},
      {"a.sav/a.jpg", "test", "", kNoArchive},
      {"n.txt/-l", "", "", kNoRun},
  };
  for (const auto& [names, inspection, runs, none] : files) {
    EXPECT_EQ("{\"runs\":[" + runs + "],\"none\":\"" + none + "\"}",
              PageSession(names, inspection).PlanJson())
        << names;
  }
  EXPECT_EQ((std::vector<std::string>{"a", "b c"}), SplitNames("/a//b c/"));  // no name is empty
  const PageSession given("a.sav/a.old.sav/a.jpg/b.ssav", ""), tested("a.sav/b.ssav", "test");
  ::testing::internal::CaptureStderr();               // asking tells what a run reads, and says nothing of it
  EXPECT_EQ(R"(["a.old.sav"])", given.ReadsJson(0));  // a save of its own
  EXPECT_EQ(R"(["a.jpg","a.sav"])", given.ReadsJson(1));
  EXPECT_EQ(R"(["b.ssav"])", given.ReadsJson(2));
  EXPECT_EQ(R"(["b.ssav"])", tested.ReadsJson(0));
  EXPECT_EQ("[]", given.ReadsJson(3));
  EXPECT_EQ("", ::testing::internal::GetCapturedStderr());
  fs::current_path(before);
}

// One run per argument, each with its exact stdout, exit code and error lines.
TEST(CommandLineTest, EachArgumentGivesItsTextAndCode) {
  ScratchDir dir;
  const std::string tooLong(kMaxPath, 'n');
  WriteAll(dir, {{"x.sav", "save"},
                 {"t.ssav", "no archive here"},
                 {"none.ssav", FromHex(kEmptyArchive)},
                 {"huge.ssav", FromHex(kEmptyArchive)},
                 {"abc.ssav", FromHex(kOneEntryArchive)},
                 {"max.ssav", FromHex(kEmptyArchive)}});
  fs::create_directory(FsPath(dir.Path("d.sav")));
  // sparse: one byte past the limit, and the largest archive there may be (its length is the report's)
  fs::resize_file(FsPath(dir.Path("huge.ssav")), std::uintmax_t{1} << 31);
  fs::resize_file(FsPath(dir.Path("max.ssav")), (std::uintmax_t{1} << 31) - 1);
  // the arguments, the exit code, stdout after the banner, and what each error line names
  std::vector<std::tuple<std::string, int, std::string, std::vector<std::string>>> cases = {
      {"", 2, kUsage, {}},
      {"--help", 0, kHelp, {}},
      {"--version x.sav", 0, "Tovrel " TOVREL_VERSION "\n", {}},
      {"-t x.sav", 2, kHelp, {"cannot test 'x.sav': only a .ssav archive can be looked into"}},
      {tooLong + ".sav", 1, "", {tooLong.substr(0, 20)}},
      {"x.sav " + tooLong, 1, "", {tooLong.substr(0, 20)}},
      {"t.ssav", 3, "", {"t.ssav': it is not a well-formed archive"}},
      {"d.sav", 1, "", {"d.sav': it is a directory, not a save"}},
      {"huge.ssav", 3, "", {"huge.ssav': it is not a well-formed archive"}},
      {"none.ssav", 0, Report(0, 16, 0, "0.00"), {}},
      {"abc.ssav", 0, Report(1, 47, 3, "-1466.67"), {}},
      {"max.ssav", 0, Report(0, 2147483647, 0, "0.00"), {}},
      {"-l abc.ssav",
       0,
       "Original  Stored  File\n       3      11  abc.txt\n       3      11  1 entry, 1 file to write\n",
       {}},
  };
#ifndef _WIN32  // a FIFO is opened without waiting for a writer; ".." after a link is the kernel's, so
  // "lnk/../r.ssav" is saves/r.ssav, the parent of the link's target, not this folder's r.ssav
  const std::string here = fs::canonical(FsPath(dir.path())).u8string();  // the tool sees the physical path
  mkfifo(dir.Path("p.ssav").c_str(), 0600);
  fs::create_directories(dir.Path("saves/real"));
  fs::create_symlink("saves/real", dir.Path("lnk"));
  MakeArchive(dir.Path("saves/r.ssav"), {{".sav", Scrambled("the right save")}});
  MakeArchive(dir.Path("r.ssav"), {{".sav", Scrambled("another folder's save")}});
  cases.push_back({"p.ssav", 3, "", {"p.ssav': it is not a regular file"}});
  cases.push_back(
      {"lnk/../r.ssav", 0, Report(1, fs::file_size(dir.Path("saves/r.ssav")), 14, kAnyRatio), {}});
  cases.push_back({"lnk/../y.ssav", 1, "File " + here + "/lnk/../y.ssav not found", {}});
#endif
  const std::size_t before = Count(dir.path());
  for (const auto& [args, code, out, errors] : cases) {
    SCOPED_TRACE(args.substr(0, 20));
    const ToolResult r = Tool(dir.path(), args);
    EXPECT_EQ(code, r.exitCode);
    EXPECT_EQ(kBanner + out, out.find(kAnyRatio) == std::string::npos ? r.out : AnyRatio(r.out));
    ExpectLines(r.err, "error: ", errors);
  }
  EXPECT_EQ(FromHex(kOneEntryArchive), ReadBytes(dir.Path("abc.ssav")));  // reading changes no archive
  if (!kWindows) {
    EXPECT_EQ("the right save", ReadBytes(dir.Path("saves/r.sav")));
    // a report that cannot be written fails the run, though the work is done
    const ToolResult full = Tool(dir.path(), "abc.ssav", "sh -c 'exec \"$0\" \"$@\" >/dev/full' ");
    EXPECT_EQ(
        std::make_pair(1, std::string("error: cannot write to standard output: No space left on device\n")),
        std::make_pair(full.exitCode, full.err));
  }
  if (!kWindows && !kSanitized) {  // a header that claims 2 GiB is refused before anything is allocated
    std::string claims = FromHex(kEmptyArchive);
    EncodeFixed32(&claims[4], 0x7FFFFFF0);
    WriteBytes(dir.Path("claims.ssav"), claims);
    const ToolResult r = Tool(dir.path(), "claims.ssav", kLowMemory);
    EXPECT_EQ(3, r.exitCode);
    ExpectLines(r.err, "error: ", {"claims.ssav': it is not a well-formed archive"});
    fs::remove(FsPath(dir.Path("claims.ssav")));
  }
  EXPECT_EQ("abc", ReadBytes(dir.Path("abc.txt")));
  EXPECT_EQ(before + 1, Count(dir.path()));  // abc.txt
}

// Every file named <base> or <base>.<ext> is a member, under its own extension; ".sav" alone is stored
// scrambled. Look-alikes, the user's files named like temporaries, and a killed run's leftover are neither
// packed nor touched. Unpacked elsewhere, the first three entries in table order come back.
TEST(PackTest, MembersAreTheSavesOwnFilesAndThreeComeBack) {
  ScratchDir dir;
  // Windows finds the files in any letter case, and each entry keeps its own file's extension
  const Files save = {{kWindows ? "autosave1.txt" : "autosave1.sav", TextBytes(4000, 1)},
                      {kWindows ? "AUTOSAVE1.jpg" : "autosave1.jpg", RandomBytes(3000, 2)},
                      {kWindows ? "AutoSave1.SAV" : "autosave1.SAV", "upper case: no save, never scrambled"},
                      {"autosave1", "no extension"},
                      {"autosave1.тхт", ""}};  // stored under its UTF-8 bytes
  const Files others = {{"autosave1.old.sav", "1"},   {"autosave1.sav.bak", "2"},  {"autosave10.sav", "3"},
                        {"autosave1.ssav.new", "4"},  {"autosave1.sav.part", "5"}, {"$tmp$", "6"},
                        {"~tovrel-0123abcd.tmp", "7"}};
  WriteAll(dir, save);
  WriteAll(dir, others);
  fs::create_directory(FsPath(dir.Path("autosave1.dir")));  // a directory is no member, and no failure

  const ToolResult r = Tool(dir.path(), "autosave1.sav");
  EXPECT_EQ(0, r.exitCode);
  std::int64_t total = 0;
  for (const auto& file : save) total += static_cast<std::int64_t>(file.second.size());
  EXPECT_EQ(
      kBanner + Report(save.size(), fs::file_size(FsPath(dir.Path("autosave1.ssav"))), total, kAnyRatio),
      AnyRatio(r.out));
  ExpectLines(r.err, "note: ",
              {"autosave1.old.sav", "autosave1.sav.bak", "autosave1.ssav.new", "autosave1.sav.part",
               "holds 5 files, but unpacking writes at most 3"});
  Archive archive(dir.Path("autosave1.ssav").c_str(), /*create=*/false);  // every member, ".sav" scrambled
  EXPECT_EQ(static_cast<std::int32_t>(save.size()), archive.EntryCount());
  for (const auto& [file, bytes] : save)
    EXPECT_EQ(file.substr(9) == ".sav" ? Scrambled(bytes) : bytes, ExtractString(&archive, file.c_str() + 9));
#ifndef _WIN32  // a new archive has the mode of any new file: read and write as the umask allows, no more
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(0666 & ~mask, static_cast<mode_t>(fs::status(dir.Path("autosave1.ssav")).permissions()));
#endif
  for (const auto& [name, bytes] : others) EXPECT_EQ(bytes, ReadBytes(dir.Path(name))) << name;
  EXPECT_EQ(save.size() + others.size() + 2, Count(dir.path()));  // and nothing else is left

  ScratchDir elsewhere;
  fs::copy_file(FsPath(dir.Path("autosave1.ssav")), FsPath(elsewhere.Path("autosave1.ssav")));
  const ToolResult unpacked = Tool(elsewhere.path(), "autosave1.ssav");
  EXPECT_EQ(0, unpacked.exitCode);
  EXPECT_EQ(r.out, unpacked.out);
  std::vector<std::string> skipped;
  for (const auto& [file, bytes] : save) {
    const std::string name = "autosave1" + file.substr(9);
    if (fs::exists(FsPath(elsewhere.Path(name)))) {
      EXPECT_EQ(bytes, ReadBytes(elsewhere.Path(name))) << name;
    } else {
      skipped.push_back("'" + file.substr(9) + "'");
    }
  }
  EXPECT_EQ(2u, skipped.size());
  ExpectLines(unpacked.err, "note: ", skipped);
}

// Packing again replaces the archive (never packing it into itself) and keeps its permissions; a second
// argument names the archive only when it is the last; and unpacked in another folder over older files,
// each archive gives back every file byte for byte, the older files' permissions kept. The folders and
// the base name are outside any one code page, and one member is named like the temporaries of old.
TEST(PackTest, ReplacesOnlyTheArchiveItNamesAndUnpacksByteForByte) {
  ScratchDir root;
  const std::string dir = root.Path("Сохранения 存档");
  const std::string base = "сейв存档";
  fs::create_directory(FsPath(dir));
  Files files = {{"", RandomBytes(20000, 2)}, {".part", "not a temporary"}, {".sav", ""}};
  for (const auto& [ext, bytes] : files) WriteBytes(dir + "/" + base + ext, bytes);
  ASSERT_EQ(0, Tool(dir, Quoted(base + ".sav")).exitCode);
  const std::string first = ReadBytes(dir + "/" + base + ".ssav");
  const auto privateMode = fs::perms::owner_read | fs::perms::owner_write;
  fs::permissions(FsPath(dir + "/" + base + ".ssav"), privateMode);
  for (const auto& [args, name, save] :
       {std::tuple{" myarch", std::string("myarch"), TextBytes(40000, 4)}, {"", base, TextBytes(30000, 5)}}) {
    SCOPED_TRACE(args);
    files[".sav"] = save;
    WriteBytes(dir + "/" + base + ".sav", save);
    const ToolResult packed = Tool(dir, Quoted(base + ".sav") + args);
    EXPECT_EQ(0, packed.exitCode);
    EXPECT_EQ(kBanner + Report(3, fs::file_size(FsPath(dir + "/" + name + ".ssav")), 20015 + save.size(),
                               kAnyRatio),
              AnyRatio(packed.out + packed.err));
    const std::string elsewhere = root.Path("другая 文件夹");
    fs::remove_all(FsPath(elsewhere));
    fs::create_directory(FsPath(elsewhere));
    WriteBytes(elsewhere + "/" + name + ".sav", "an older save, private");
    fs::permissions(FsPath(elsewhere + "/" + name + ".sav"), privateMode);
    fs::copy_file(FsPath(dir + "/" + name + ".ssav"), FsPath(elsewhere + "/" + name + ".ssav"));
    const ToolResult r = Tool(root.path(), Quoted("другая 文件夹/" + name + ".ssav") + " ignored");
    EXPECT_EQ(0, r.exitCode);
    EXPECT_EQ(packed.out, r.out + r.err);  // the same report both ways, and nothing on stderr
    for (const auto& [ext, bytes] : files) EXPECT_EQ(bytes, ReadBytes(elsewhere + "/" + name + ext)) << ext;
    EXPECT_EQ(4u, Count(elsewhere));
    if (!kWindows) {
      EXPECT_EQ(privateMode, fs::status(elsewhere + "/" + name + ".sav").permissions());
    }
    // myarch.ssav is made without a word about the save's own archive, which then is replaced
    EXPECT_EQ(name == "myarch", first == ReadBytes(dir + "/" + base + ".ssav"));
  }
  if (!kWindows) {
    EXPECT_EQ(privateMode, fs::status(dir + "/" + base + ".ssav").permissions());
  }
  EXPECT_EQ(5u, Count(dir));
}

// An empty archive name is a name like any other: the archive's path is the folder and ".ssav".
TEST(PackTest, EmptyArchiveNameMakesDotSsav) {
  ScratchDir dir;
  WriteAll(dir, {{"x.sav", "save"}});
  EXPECT_EQ(0, Tool(dir.path(), "x.sav \"\"").exitCode);
  EXPECT_TRUE(fs::exists(FsPath(dir.Path(".ssav"))));
  EXPECT_FALSE(fs::exists(FsPath(dir.Path("x.ssav"))));
}

// A pack that fails keeps the previous archive as it was, prints no report and leaves nothing behind.
TEST(PackFailureTest, FailedPackKeepsPreviousArchiveAndLeavesNothing) {
  // the arguments; what is put in the way ('d' a directory, 's' a sparse file of `size` bytes, 'p' a FIFO,
  // 'l' a dangling link) and its name; the exit code, what the error line names, the shell prefix
  struct Case {
    const char* args;
    char spoil;
    const char* name;
    std::uint64_t size;
    int code;
    const char* mention;
    const char* wrapper = "";
  };
  std::vector<Case> cases = {{"autosave1.sav adir", 'd', "adir.ssav", 0, 3, "adir.ssav"},
                             {"autosave1.sav", 's', "autosave1.big", (std::uint64_t{4} << 30) + 5, 1,
                              "big': it is 2 GiB or larger"}};
  if (kWindows) cases.push_back({"autosave1.sav \"my|arch\"", '-', "", 0, 3, "my|arch.ssav"});  // forbidden
  if (!kWindows) {
    cases.push_back({"autosave1.sav", 'p', "autosave1.pipe", 0, 1, "pipe': it is not a regular file"});
    cases.push_back({"autosave1.sav", 'l', "autosave1.png", 0, 1, "png': No such file or directory"});
  }
  if (!kWindows && !kSanitized)
    cases.push_back(
        {"autosave1.sav", 's', "autosave1.big", (1u << 31) - 1, 1, "big': not enough memory", kLowMemory});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mention);
    ScratchDir dir;
    WriteAll(dir, {{"autosave1.sav", TextBytes(4000, 8)}, {"autosave1.jpg", RandomBytes(1000, 9)}});
    ASSERT_EQ(0, Tool(dir.path(), "autosave1.sav").exitCode);
    const std::string previous = ReadBytes(dir.Path("autosave1.ssav"));
    WriteBytes(dir.Path("autosave1.sav"), "a newer save");
    const std::string spoiled = dir.Path(c.name);
    if (c.spoil == 'd') fs::create_directory(FsPath(spoiled));
    if (c.spoil == 's') {
      WriteBytes(spoiled, "");
      fs::resize_file(FsPath(spoiled), c.size);
    }
#ifndef _WIN32
    if (c.spoil == 'p') mkfifo(spoiled.c_str(), 0600);
    if (c.spoil == 'l') fs::create_symlink("gone", spoiled);
#endif
    const std::size_t files = Count(dir.path());
    const ToolResult r = Tool(dir.path(), c.args, c.wrapper);
    EXPECT_EQ(c.code, r.exitCode);
    EXPECT_EQ(kBanner, r.out);  // no report
    ExpectLines(r.err, "error: ", {c.mention});
    EXPECT_EQ(previous, ReadBytes(dir.Path("autosave1.ssav")));
    EXPECT_EQ(files, Count(dir.path()));
  }
}

// Each bad entry fails alone with one error line; the others are written, the report still prints, and
// the run ends with code 3. The archive and what is in the way stay as they were.
TEST(UnpackFailureTest, BadEntriesFailAloneAndTheRunEndsInFailure) {
  struct Case {
    Files entries;
    std::vector<std::string> errors;  // what each error line names
    Files written;
    const char* wrapper = "";
  };
  std::vector<Case> cases = {
      {{{"/\nx", "1"}, {"\\x", "2"}, {":x", "3"}, {".ssav", "4"}, {".ok", "5"}},  // shown on one line
       {"refusing entry '/\\x0Ax'", "refusing entry '\\x'", "refusing entry ':x'", "refusing entry '.ssav'"},
       {{".ok", "5"}}},
      // ".SAV" is no save: written as stored, never unscrambled; ".png" cannot replace a directory
      {{{".a", RandomBytes(3000, 10)}, {".SAV", "as is"}, {".png", "new"}},
       {"x.ssav': its checksum does not match", "x.png"},
       {{".SAV", "as is"}}},
  };
  if (kWindows) {  // the archive in other spellings, and names no Windows file can have
    cases.push_back(
        {{{".SSAV", "1"}, {".ssav.", "2"}, {".Ssav  ", "3"}, {".a*b", "4"}, {".x|y", "5"}, {".ok", "6"}},
         {"entry '.SSAV'", "entry '.ssav.'", "entry '.Ssav  '", "x.a*b", "x.x|y"},
         {{".ok", "6"}}});
  } else if (!kSanitized) {
    cases.push_back({{{".big", RandomBytes(2100000, 11)}, {".ok", "fits"}},
                     {"x.ssav': not enough memory"},
                     {{".ok", "fits"}},
                     kLowMemory});
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.errors[0]);
    ScratchDir dir;
    MakeArchive(dir.Path("x.ssav"), c.entries);
    std::string archive = ReadBytes(dir.Path("x.ssav"));
    std::int64_t total = 0;
    for (const auto& [name, bytes] : c.entries) {
      const std::size_t fields = FieldsOf(archive, name);
      if (name == ".a") archive[DecodeFixed32(&archive[fields]) + 1500] ^= 0x40;  // damaged in its middle
      if (name == ".big") EncodeFixed32(&archive[fields + 8], 0x7FFFFFFF);  // its 2.1 MB may inflate to that
      total += DecodeFixed32(&archive[fields + 8]);
    }
    WriteBytes(dir.Path("x.ssav"), archive);
    fs::create_directory(FsPath(dir.Path("x.png")));
    const ToolResult r = Tool(dir.path(), "x.ssav", c.wrapper);
    EXPECT_EQ(3, r.exitCode);
    EXPECT_EQ(kBanner + Report(c.entries.size(), archive.size(), static_cast<std::int32_t>(total), kAnyRatio),
              AnyRatio(r.out));
    ExpectLines(r.err, "error: ", c.errors);
    EXPECT_EQ(archive, ReadBytes(dir.Path("x.ssav")));
    for (const auto& [name, bytes] : c.written) EXPECT_EQ(bytes, ReadBytes(dir.Path("x" + name)));
    EXPECT_EQ(2 + c.written.size(), Count(dir.path()));
  }
  // an entry whose file's path would be longer than the system allows fails alone too
  ScratchDir deep;
  std::string dir = deep.path();
  while (dir.size() + 110 < kMaxPath) {
    dir =
        (FsPath(dir) / std::string(std::min<std::size_t>(200, kMaxPath - 110 - dir.size()), 'd')).u8string();
    fs::create_directory(FsPath(dir));
  }
  MakeArchive((FsPath(dir) / "x.ssav").u8string(), {{"." + std::string(150, 'e'), "long"}, {".ok", "fits"}});
  const ToolResult r = Tool(dir, "x.ssav");
  EXPECT_EQ(3, r.exitCode);
  ExpectLines(r.err, "error: ", {"its path would be longer than the system allows"});
  EXPECT_EQ("fits", ReadBytes((FsPath(dir) / "x.ok").u8string()));
}

// Listing and testing change nothing (no archive, no file beside it, no temporary left). The listing
// tells what unpacking would do with each entry; the test finds each damaged entry and says why; an
// archive that is no archive is refused as unpacking refuses it, and the next one still runs.
TEST(ListAndTestTest, TellWithoutWriting) {
  ScratchDir dir;
  const std::string here = fs::canonical(FsPath(dir.path())).u8string();
  MakeArchive(dir.Path("x.ssav"), {{".sav", Scrambled("save")},
                                   {".jpg", "pic"},
                                   {"/\nx y", "1"},
                                   {".ssav", "2"},
                                   {".txt", "text"},
                                   {".png", "p"}});
  MakeArchive(dir.Path("y.ssav"), {{".jpg", RandomBytes(3000, 1)}, {".txt", "text"}, {".sav", ""}});
  std::string damaged = ReadBytes(dir.Path("y.ssav"));
  damaged[DecodeFixed32(&damaged[FieldsOf(damaged, ".jpg")]) + 1500] ^= 0x40;
  EncodeFixed32(&damaged[FieldsOf(damaged, ".txt") + 8], 5);
  WriteAll(dir, {{"x.sav", "today's save"}, {"y.ssav", damaged}, {"z.ssav", "not an archive"}});
  // in table order; refused entries count toward no limit
  const std::vector<std::tuple<std::string, int, std::string, std::vector<std::string>>> cases = {
      {"--list x.ssav",
       0,
       "Original  Stored  File\n"
       "       1       9  x/\\x0Ax y  (refused: its name holds a path separator or ':')\n"
       "       1       9  x.ssav  (refused: it would overwrite the archive itself)\n"
       "       4      12  x.txt\n       3      11  x.jpg\n       1       9  x.png\n"
       "       4      12  x.sav  (skipped: at most 3 files are written per archive)\n"
       "      14      62  6 entries, 3 files to write\n",
       {}},
      {"-t x.ssav",
       0,
       "intact   x/\\x0Ax y\nintact   x.ssav\nintact   x.txt\nintact   x.jpg\nintact   x.png\nintact   "
       "x.sav\n"
       "6 entries: 6 intact, 0 damaged\n",
       {}},
      {"--test y.ssav",
       3,
       "damaged  y.txt: it holds fewer bytes than its recorded size\n"
       "damaged  y.jpg: its checksum does not match\nintact   y.sav\n3 entries: 1 intact, 2 damaged\n",
       {"y.ssav' has 2 damaged entries"}},
      {"-l z.ssav y.ssav",
       3,
       "==> " + (FsPath(here) / "z.ssav").u8string() + " <==\n\n==> " + (FsPath(here) / "y.ssav").u8string() +
           " <==\nOriginal  Stored  File\n       5      12  y.txt\n    3000    3011  y.jpg\n       0       8 "
           " y.sav\n"
           "    3005    3031  3 entries, 3 files to write\n",
       {"z.ssav': it is not a well-formed archive"}}};
  const Files before = Contents(dir.path());
  for (const auto& [args, code, out, errors] : cases) {
    SCOPED_TRACE(args);
    const ToolResult r = Tool(dir.path(), args);
    EXPECT_EQ(code, r.exitCode);
    EXPECT_EQ(kBanner + out, r.out);
    ExpectLines(r.err, "error: ", errors);
    EXPECT_EQ(before, Contents(dir.path()));
  }
}

// Several saves and archives are each packed or unpacked as if given alone (three files per archive), in
// name order, a line naming each before its report; a missing file does not stop the next one, and the
// highest exit code is the run's. A companion given with them is no run of its own.
TEST(SeveralFilesTest, EachRunsAsIfGivenAlone) {
  ScratchDir dir;
  const std::string here = fs::canonical(FsPath(dir.path())).u8string();
  WriteAll(dir, {{"a.sav", "a"}, {"a.jpg", "aa"}});
  const Files x = {{".1", "1"}, {".2", "2"}, {".3", "3"}}, y = {{".4", "4"}, {".5", "5"}, {".6", "6"}};
  MakeArchive(dir.Path("x.ssav"), x);
  MakeArchive(dir.Path("y.ssav"), y);
  const ToolResult r = Tool(dir.path(), "y.ssav a.jpg x.ssav missing.sav a.sav");
  EXPECT_EQ(std::make_pair(1, std::string()), std::make_pair(r.exitCode, r.err));
  std::string out = kBanner;
  for (const auto& [name, report] :
       {std::pair{"a.sav", Report(2, fs::file_size(FsPath(dir.Path("a.ssav"))), 3, kAnyRatio)},
        {"missing.sav", "File " + (FsPath(here) / "missing.sav").u8string() + " not found"},
        {"x.ssav", Report(3, fs::file_size(FsPath(dir.Path("x.ssav"))), 3, kAnyRatio)},
        {"y.ssav", Report(3, fs::file_size(FsPath(dir.Path("y.ssav"))), 3, kAnyRatio)}})
    out += std::string(out == kBanner ? "" : "\n") + "==> " + (FsPath(here) / name).u8string() + " <==\n" +
           report;
  EXPECT_EQ(out, AnyRatio(r.out));
  for (const auto& [ext, bytes] : x) EXPECT_EQ(bytes, ReadBytes(dir.Path("x" + ext)));
  for (const auto& [ext, bytes] : y) EXPECT_EQ(bytes, ReadBytes(dir.Path("y" + ext)));
  EXPECT_EQ(11u, Count(dir.path()));
}

// An archive the user may only read still unpacks; a file the user may not write is not replaced. On
// POSIX the tool runs as an unprivileged user (root may write anything); Windows has the attribute.
TEST(UnpackFailureTest, ReadOnlyArchiveUnpacksButReadOnlyFilesStay) {
  ScratchDir dir;
  const std::string quoted = "'" + dir.path() + "' '" + dir.Path("x.ssav") + "' '" + dir.Path("x.jpg") + "'";
  MakeArchive(dir.Path("x.ssav"), {{".sav", Scrambled("the save")}, {".jpg", "new picture"}});
  WriteBytes(dir.Path("x.jpg"), "kept picture");
  for (const char* name : {"x.ssav", "x.jpg"}) fs::permissions(FsPath(dir.Path(name)), fs::perms::owner_read);
  ScratchDir bin;  // a copy of the tool where nobody may run it, wherever the build is
  fs::copy_file(FsPath(TOOL_PATH), FsPath(bin.Path("tovrel")));
  const std::string chown = "command -v setpriv >/dev/null && [ \"$(id -u)\" = 0 ] && chown nobody:nogroup " +
                            quoted + " && " + kNobody + "test -x '" + bin.Path("tovrel") + "'";
  if (!kWindows && std::system(chown.c_str()) != 0)
    GTEST_SKIP() << "cannot run the tool as nobody (root? setpriv?)";
  const ToolResult r =
      Tool(dir.path(), "x.ssav", kWindows ? "" : kNobody, kWindows ? TOOL_PATH : bin.Path("tovrel"));
  EXPECT_EQ(3, r.exitCode);
  ExpectLines(r.err, "error: ", {"x.jpg': the file is read-only"});
  EXPECT_EQ("the save", ReadBytes(dir.Path("x.sav")));
  EXPECT_EQ("kept picture", ReadBytes(dir.Path("x.jpg")));
  EXPECT_EQ(3u, Count(dir.path()));
}

}  // namespace
}  // namespace tovrel::test
