// Tests of the platform layer, POSIX and Windows: path folding and splitting, the save-file search,
// path comparison, and replacing a file by another, also across file systems.
#include "platform/platform.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "test_util.h"

namespace fs = std::filesystem;

namespace tovrel {
namespace {

using test::CurrentDir;
using test::FileExists;
using test::ReadBytes;
using test::ScratchDir;
using test::WriteBytes;

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// `path` written with '/' turned into the platform's separator.
std::string Native(std::string path) {
  if (kWindows) std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

TEST(MakeAbsolutePathTest, JoinsFoldsLexicallyAndRefusesWhatWouldNotFit) {
  ScratchDir dir;
  fs::create_directory(dir.Path("sub"));
  CurrentDir cwd(dir.Path("sub"));
  const std::string here = fs::current_path().string();
  const std::string parent = fs::current_path().parent_path().string();
  std::vector<std::pair<std::string, std::string>> cases = {
      {"x.sav", here + "/x.sav"},      {"./x.sav", here + "/x.sav"}, {"a/b/../c.sav", here + "/a/c.sav"},
      {"../x.sav", parent + "/x.sav"}, {"a//b", here + "/a/b"},      {"a/", here + "/a/"}};
#ifdef _WIN32
  cases.insert(cases.end(), {{"C:\\p\\.\\q\\..\\r", "C:\\p\\r"},
                             {"c:\\..\\..\\x", "c:\\x"},              // ".." stops at the drive's root
                             {"a/b\\../c.sav", here + "\\a\\c.sav"},  // both separators at once
                             {"x.ssav. .", here + "\\x.ssav"}});      // trailing dots and spaces name x.ssav
#else
  cases.insert(
      cases.end(),
      {{"/p/./q/../r", "/p/r"}, {"/p/../../x", "/x"}, {"/..", "/"}, {"missing/../..", parent + "/"}});
#endif
  const std::size_t room = kMaxPath - here.size() - 2;  // directory, separator, name, terminator
  cases.push_back({std::string(room, 'a'), here + "/" + std::string(room, 'a')});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first.substr(0, 40));
    std::string out;
    ASSERT_TRUE(MakeAbsolutePath(c.first.c_str(), &out));
    EXPECT_EQ(Native(c.second), out);
  }
  std::string out;
  EXPECT_FALSE(MakeAbsolutePath(std::string(room + 1, 'a').c_str(), &out));
  EXPECT_FALSE(MakeAbsolutePath(std::string(kMaxPath, 'r').c_str(), &out));
}

TEST(SplitPathTest, CutsDirectoryBaseAndLastExtension) {
  // path, directory, base name, extension
  const char* const kCases[][4] = {{"/d/autosave1.sav", "/d/", "autosave1", ".sav"},
                                   {"/d/x.old.sav", "/d/", "x.old", ".sav"},
                                   {"/d.x/name", "/d.x/", "name", ""},
                                   {"/d/.bashrc", "/d/", "", ".bashrc"},
                                   {"/d/dir/", "/d/dir/", "", ""},
                                   {"/x.", "/", "x", "."}};
  for (const auto& [path, dir, base, ext] : kCases) {
    SCOPED_TRACE(path);
    const std::string in = Native(path);
    PathParts parts;
    ASSERT_TRUE(SplitPath(in.c_str(), &parts));
    EXPECT_EQ(Native(dir), parts.directory);
    EXPECT_EQ(base, parts.baseName);
    EXPECT_EQ(ext, parts.extension);
    EXPECT_EQ(in.c_str() + in.size() - std::strlen(ext), FindExtension(in.c_str()));
  }
  PathParts parts;
  EXPECT_FALSE(SplitPath("no-directory.sav", &parts));
}

// What ListMatchingFiles finds for `base` in `dir`: the names in order, a directory's with a '/'
// after it, "" when it fails, which it must do exactly when it finds nothing.
std::string Found(const std::string& dir, const std::string& base) {
  std::vector<FoundFile> found = {FoundFile{"stale", false}};
  const bool ok = ListMatchingFiles(Native(dir + "/").c_str(), base.c_str(), &found);
  EXPECT_EQ(ok, !found.empty()) << base;
  std::string names;
  for (const FoundFile& f : found) names += (names.empty() ? "" : " ") + f.name + (f.isDirectory ? "/" : "");
  return names;
}

TEST(ListMatchingFilesTest, FindsBaseAndBaseDotAnythingLiterallySorted) {
  ScratchDir dir;
  for (const char* name :
       {"autosave1", "autosave1.SAV", "autosave1.jpg", "AUTOSAVE1.bmp", "autosave1.sav.bak", "autosave10.sav",
        "autosave1_x", "other.sav", "a[b].sav", "ab.sav", "ab"})
    WriteBytes(dir.Path(name), "x");
  fs::create_directory(dir.Path("autosave1.d"));
  EXPECT_TRUE(PathExists(dir.Path("autosave1.d").c_str()));
#ifndef _WIN32  // '*' and '?' cannot be in a Windows name
  for (const char* name : {"autosave1.\xC3\xA9", "a*.sav", "a?.sav"}) WriteBytes(dir.Path(name), "x");
  fs::create_symlink("nowhere", dir.Path("autosave1.lnk"));
  EXPECT_FALSE(PathExists(dir.Path("autosave1.lnk").c_str()));  // links are followed, as a read would
#endif
  // bytewise order, so the 0xC3 name comes last; on Windows letter case does not count
  const std::string save1 =
      kWindows ? "AUTOSAVE1.bmp autosave1 autosave1.SAV autosave1.d/ autosave1.jpg autosave1.sav.bak"
               : "autosave1 autosave1.SAV autosave1.d/ autosave1.jpg autosave1.lnk "
                 "autosave1.sav.bak autosave1.\xC3\xA9";
  // the search's wildcards match only themselves
  const std::pair<const char*, std::string> kCases[] = {{"autosave1", save1},
                                                        {"AUTOSAVE1", kWindows ? save1 : "AUTOSAVE1.bmp"},
                                                        {"a[b]", "a[b].sav"},
                                                        {"a*", kWindows ? "" : "a*.sav"},
                                                        {"a?", kWindows ? "" : "a?.sav"}};
  for (const auto& [base, want] : kCases) EXPECT_EQ(want, Found(dir.path(), base)) << base;
  for (const char* base : {"a<", "a\"", "*", "?b", "autosave"})
    EXPECT_EQ("", Found(dir.path(), base)) << base;
  EXPECT_EQ("", Found(dir.Path("missing"), "autosave1"));
#ifdef _WIN32
  // a base that is only some file's 8.3 short name finds nothing
  WriteBytes(dir.Path("longsavename.sav"), "x");
  char shortPath[MAX_PATH];
  const DWORD length = GetShortPathNameA(dir.Path("longsavename.sav").c_str(), shortPath, sizeof shortPath);
  ASSERT_TRUE(length > 0 && length < sizeof shortPath);
  const std::string shortName = fs::path(shortPath).filename().string();
  if (shortName != "longsavename.sav") {  // 8.3 names may be turned off
    EXPECT_EQ("", Found(dir.path(), shortName.substr(0, shortName.find('.'))));
  }
#endif
}

TEST(SamePathTest, ComparesAndKeysAsTheFileSystemDoes) {
  // the other path, and whether it is the same here and on Windows, which ignores letter case and
  // trailing dots and spaces
  const std::tuple<const char*, bool, bool> kCases[] = {
      {"/d/x.ssav", true, true},    {"/d/x.ssa", false, false},  {"/e/x.ssav", false, false},
      {"/d/X.SSAV", false, true},   {"/d/x.ssav.", false, true}, {"/d/x.ssav  ", false, true},
      {"/d/x.ssav.x", false, false}};
  const std::string a = (kWindows ? "C:" : "") + Native("/d/x.ssav");
  for (const auto& [other, same, sameOnWindows] : kCases) {
    SCOPED_TRACE(other);
    const std::string b = (kWindows ? "C:" : "") + Native(other);
    const bool want = kWindows ? sameOnWindows : same;
    EXPECT_EQ(want, SamePath(a.c_str(), b.c_str()));
    EXPECT_EQ(want, SamePath(b.c_str(), a.c_str()));
    EXPECT_EQ(want, PathKey(a.c_str()) == PathKey(b.c_str()));
  }
}

TEST(MoveReplacingTest, ReplacesWithinAndAcrossFileSystemsOrLeavesBothAsTheyWere) {
  // under Wine the Unix root is drive Z:, and its /dev/shm lies on another volume than the temp folder
  const std::string otherRoot = kWindows ? "Z:\\dev\\shm" : "/dev/shm";
  ScratchDir target;
  fs::create_directory(target.Path("busy"));
  WriteBytes(target.Path("busy/inside"), "kept");
  std::vector<std::string> sourceParents = {fs::temp_directory_path().string()};
  struct stat other, tmp;
  if (stat(otherRoot.c_str(), &other) == 0 && S_ISDIR(other.st_mode) &&
      stat(target.path().c_str(), &tmp) == 0 && other.st_dev != tmp.st_dev) {
    sourceParents.push_back(otherRoot);
  }
  for (const std::string& parent : sourceParents) {
    SCOPED_TRACE(parent);
    ScratchDir source(parent);
    const std::string bytes = test::RandomBytes(3 * 16384 + 5, 7);  // several copy pieces
    WriteBytes(source.Path("from"), bytes);
    WriteBytes(target.Path("to"), "old archive");
#ifndef _WIN32  // permission bits are POSIX's
    fs::permissions(source.Path("from"), fs::perms(0640));
#endif
    ASSERT_TRUE(MoveReplacing(source.Path("from").c_str(), target.Path("to").c_str()));
    EXPECT_EQ(bytes, ReadBytes(target.Path("to")));
    EXPECT_FALSE(FileExists(source.Path("from")));
#ifndef _WIN32
    EXPECT_EQ(fs::perms(0640), fs::status(target.Path("to")).permissions());
#endif
    // into a folder that does not exist, or over a directory: nothing moves, nothing is left
    WriteBytes(source.Path("again"), "again");
    for (const char* to : {"missing/to", "busy"}) {
      EXPECT_FALSE(MoveReplacing(source.Path("again").c_str(), target.Path(to).c_str())) << to;
      EXPECT_EQ("again", ReadBytes(source.Path("again")));
    }
    EXPECT_EQ("kept", ReadBytes(target.Path("busy/inside")));
    // "busy" and "to" only: no temporary left beside them
    EXPECT_EQ(2, std::distance(fs::directory_iterator(target.path()), fs::directory_iterator()));
  }
  if (sourceParents.size() == 1)
    GTEST_SKIP() << "moved within one file system only: none other at " << otherRoot;
}

}  // namespace
}  // namespace tovrel
