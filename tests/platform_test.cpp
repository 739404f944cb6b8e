// Tests of the platform layer, POSIX and Windows: absolute paths and splitting, the save-file search,
// path comparison, exclusive creation and replacing a file by another.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "test_util.h"

namespace fs = std::filesystem;

namespace tovrel {
namespace {

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

TEST(PathTest, AbsolutePathsAndTheirParts) {
  ScratchDir dir;
  test::CurrentDir cwd(dir.path());
  const std::string here = fs::current_path().u8string();
  // relative, ".", doubled separators, a trailing separator; ".." only Windows folds (POSIX leaves it to
  // the kernel, which knows where it leads after a link)
  std::vector<std::pair<std::string, std::string>> cases = {
      {"x.sav", here + "/x.sav"},
      {"./x.sav", here + "/x.sav"},
      {"a//b", here + "/a/b"},
      {"a/", here + "/a/"},
      {"a/../c.sav", kWindows ? here + "/c.sav" : here + "/a/../c.sav"}};
  const std::size_t room = kMaxPath - here.size() - 2;  // directory, separator, name, terminator
  cases.push_back({std::string(room, 'a'), here + "/" + std::string(room, 'a')});
  if (kWindows) cases.push_back({"x.ssav. .", here + "\\x.ssav"});  // trailing dots and spaces name x.ssav
  for (const auto& [in, want] : cases) {
    std::string out;
    ASSERT_TRUE(MakeAbsolutePath(in.c_str(), &out)) << in.substr(0, 40);
    EXPECT_EQ(Native(want), out);
  }
  std::string out;
  EXPECT_FALSE(MakeAbsolutePath(std::string(room + 1, 'a').c_str(), &out));
  EXPECT_TRUE(PathFits(std::string(kMaxPath - 1, 'a')));
  EXPECT_FALSE(PathFits(std::string(kMaxPath, 'a')));
  // path, directory, base name, extension
  const char* const kParts[][4] = {{"/d/autosave1.sav", "/d/", "autosave1", ".sav"},
                                   {"/d/x.old.sav", "/d/", "x.old", ".sav"},
                                   {"/d.x/name", "/d.x/", "name", ""},
                                   {"/d/.bashrc", "/d/", "", ".bashrc"},
                                   {"/d/dir/", "/d/dir/", "", ""},
                                   {"/x.", "/", "x", "."}};
  for (const auto& [path, directory, base, ext] : kParts) {
    const std::string in = Native(path);
    PathParts parts;
    ASSERT_TRUE(SplitPath(in.c_str(), &parts)) << path;
    EXPECT_EQ(std::make_tuple(Native(directory), std::string(base), std::string(ext)),
              std::make_tuple(parts.directory, parts.baseName, parts.extension));
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

TEST(ListMatchingFilesTest, FindsBaseAndBaseDotAnythingLiterallySortedButNoTemporaries) {
  ScratchDir dir;
  for (const char* name :
       {"autosave1", "autosave1.SAV", "autosave1.jpg", "AUTOSAVE1.bmp", "autosave1.sav.bak", "autosave10.sav",
        "autosave1_x", "a[b].sav", "ab", "~tovrel-0123abcz.tmp"})
    WriteBytes(dir.Path(name), "x");
  fs::create_directory(test::FsPath(dir.Path("autosave1.d")));
  if (!kWindows) WriteBytes(dir.Path("a*.sav"), "x");  // '*' cannot be in a Windows name
  // bytewise order; on Windows letter case does not count
  const std::string save1 =
      kWindows ? "AUTOSAVE1.bmp autosave1 autosave1.SAV autosave1.d/ autosave1.jpg autosave1.sav.bak"
               : "autosave1 autosave1.SAV autosave1.d/ autosave1.jpg autosave1.sav.bak";
  // the search's wildcards match only themselves; our temporaries are never found
  const std::pair<const char*, std::string> kCases[] = {{"autosave1", save1},
                                                        {"AUTOSAVE1", kWindows ? save1 : "AUTOSAVE1.bmp"},
                                                        {"a[b]", "a[b].sav"},
                                                        {"a*", kWindows ? "" : "a*.sav"},
                                                        {"a?", ""},
                                                        {"autosave", ""},
                                                        {"~tovrel-0123abcz", ""}};
  for (const auto& [base, want] : kCases) EXPECT_EQ(want, Found(dir.path(), base)) << base;
  EXPECT_EQ("", Found(dir.Path("missing"), "autosave1"));
}

TEST(SamePathTest, ComparesAsTheFileSystemDoes) {
  // the other path, and whether it is the same here and on Windows, which ignores letter case and
  // trailing dots and spaces
  const std::tuple<const char*, bool, bool> kCases[] = {
      {"/d/x.ssav", true, true},  {"/d/x.ssa", false, false},   {"/e/x.ssav", false, false},
      {"/d/X.SSAV", false, true}, {"/d/x.ssav. ", false, true}, {"/d/x.ssav.x", false, false}};
  const std::string a = (kWindows ? "C:" : "") + Native("/d/x.ssav");
  for (const auto& [other, same, sameOnWindows] : kCases) {
    const std::string b = (kWindows ? "C:" : "") + Native(other);
    EXPECT_EQ(kWindows ? sameOnWindows : same, SamePath(a.c_str(), b.c_str())) << other;
  }
}

// Temporaries are new files under names of their own; replacing keeps the replaced file's permission
// bits; a failed replacement leaves both files as they were.
TEST(FileTest, TemporariesAreExclusiveAndReplaceWhole) {
  ScratchDir dir;
  WriteBytes(dir.Path("taken"), "the user's");
  EXPECT_EQ(nullptr, CreateNewFile(dir.Path("taken").c_str()));
#ifndef _WIN32  // nor is a dangling link followed to create its target
  fs::create_symlink(dir.Path("nowhere"), dir.Path("link"));
  EXPECT_EQ(nullptr, CreateNewFile(dir.Path("link").c_str()));
  EXPECT_FALSE(fs::exists(dir.Path("nowhere")));
  fs::remove(dir.Path("link"));
#endif
  std::vector<std::string> temps;
  for (int i = 0; i < 3; ++i) {
    std::string temp;
    std::FILE* file = CreateTempFile(dir.Path("target").c_str(), &temp);
    ASSERT_NE(nullptr, file);
    EXPECT_EQ(0, std::fclose(file));
    EXPECT_EQ(dir.path(), fs::path(test::FsPath(temp)).parent_path().u8string());
    EXPECT_TRUE(IsTempFileName(fs::path(test::FsPath(temp)).filename().u8string().c_str())) << temp;
    temps.push_back(temp);
  }
  std::sort(temps.begin(), temps.end());
  EXPECT_EQ(temps.end(), std::unique(temps.begin(), temps.end()));
  for (const char* name :
       {"~tovrel-abc.tmp", "~tovrel-0123ABCD.tmp", "~tovrel-0123abcd.tmpx", "x~tovrel-0123abcd.tmp"}) {
    EXPECT_FALSE(IsTempFileName(name)) << name;
  }

  WriteBytes(temps[0], "new");
  if (!kWindows) fs::permissions(dir.Path("taken"), fs::perms(0600));
  ASSERT_TRUE(MoveReplacing(temps[0].c_str(), dir.Path("taken").c_str()));
  EXPECT_EQ("new", ReadBytes(dir.Path("taken")));
  if (!kWindows) {
    EXPECT_EQ(fs::perms(0600), fs::status(dir.Path("taken")).permissions());
  }
  fs::create_directory(test::FsPath(dir.Path("busy")));
  for (const char* to : {"missing/to", "busy"}) {
    EXPECT_FALSE(MoveReplacing(temps[1].c_str(), dir.Path(to).c_str())) << to;
    EXPECT_FALSE(LastFailure().empty());
  }
  EXPECT_TRUE(RemoveFile(temps[1].c_str()));
  EXPECT_TRUE(RemoveFile(temps[1].c_str()));  // already gone counts as removed
  EXPECT_TRUE(RemoveFile(temps[2].c_str()));
  EXPECT_EQ(2, std::distance(fs::directory_iterator(test::FsPath(dir.path())), fs::directory_iterator()));
}

}  // namespace
}  // namespace tovrel
