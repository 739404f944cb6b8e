// Tests of the platform layer, POSIX and Windows: absolute paths and their parts, the save-file search,
// and the temporaries: exclusive, unique, and put in place whole.
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
  const std::string here = fs::current_path().u8string();
  const std::size_t room = kMaxPath - here.size() - 2;  // directory, separator, name, terminator
  // ".", doubled separators and a trailing separator are folded; ".." only on Windows (POSIX leaves it to
  // the kernel, which knows where it leads after a link); Windows drops trailing dots and spaces
  const std::pair<std::string, std::string> kCases[] = {
      {"./x.sav", here + "/x.sav"},
      {"a//b/", here + "/a/b/"},
      {"a/../c", here + (kWindows ? "/c" : "/a/../c")},
      {std::string(room, 'a'), here + "/" + std::string(room, 'a')},
      {"x.ssav. .", here + (kWindows ? "/x.ssav" : "/x.ssav. .")}};
  for (const auto& [in, want] : kCases) {
    std::string out;
    ASSERT_TRUE(MakeAbsolutePath(in.c_str(), &out)) << in.substr(0, 40);
    EXPECT_EQ(Native(want), out);
  }
  std::string out;
  EXPECT_FALSE(MakeAbsolutePath(std::string(room + 1, 'a').c_str(), &out));
  // counted as the system counts: bytes on POSIX, UTF-16 units on Windows ("存" is 3 bytes, 1 unit)
  std::string wide;
  for (std::size_t i = 0; i + 1 < kMaxPath; ++i) wide += "存";
  EXPECT_EQ(std::make_tuple(true, false, kWindows),
            std::make_tuple(PathFits(std::string(kMaxPath - 1, 'a')), PathFits(std::string(kMaxPath, 'a')),
                            PathFits(wide)));
  // path, directory, base name, extension
  const char* const kParts[][4] = {{"/d/autosave1.sav", "/d/", "autosave1", ".sav"},
                                   {"/d/x.old.sav", "/d/", "x.old", ".sav"},
                                   {"/d.x/name", "/d.x/", "name", ""},
                                   {"/d/.bashrc", "/d/", "", ".bashrc"},
                                   {"/d/dir/", "/d/dir/", "", ""}};
  for (const auto& [path, directory, base, ext] : kParts) {
    const std::string in = Native(path);
    PathParts parts;
    ASSERT_TRUE(SplitPath(in.c_str(), &parts)) << path;
    EXPECT_EQ(std::make_tuple(Native(directory), std::string(base), std::string(ext),
                              in.c_str() + in.size() - std::strlen(ext)),
              std::make_tuple(parts.directory, parts.baseName, parts.extension, FindExtension(in.c_str())));
  }
}

// What ListMatchingFiles finds for `base` in `dir`: the names in order, a directory's with a '/' after
// it, "" when it fails, which it must do exactly when it finds nothing.
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
  for (const char* name : {"autosave1", "autosave1.jpg", "AUTOSAVE1.bmp", "autosave1.sav.bak",
                           "autosave10.sav", "a[b].sav", "~tovrel-0123abcz.tmp"}) {
    test::WriteBytes(dir.Path(name), "x");
  }
  fs::create_directory(test::FsPath(dir.Path("autosave1.d")));
  // bytewise order; on Windows letter case does not count; wildcards match only themselves
  const std::string save1 = "autosave1 autosave1.d/ autosave1.jpg autosave1.sav.bak";
  const std::pair<const char*, std::string> kCases[] = {
      {"autosave1", kWindows ? "AUTOSAVE1.bmp " + save1 : save1},
      {"AUTOSAVE1", kWindows ? "AUTOSAVE1.bmp " + save1 : "AUTOSAVE1.bmp"},
      {"a[b]", "a[b].sav"},
      {"a?", ""},
      {"autosave", ""},
      {"~tovrel-0123abcz", ""}};
  for (const auto& [base, want] : kCases) EXPECT_EQ(want, Found(dir.path(), base)) << base;
  EXPECT_EQ("", Found(dir.Path("missing"), "autosave1"));
}

// Temporaries are new files under names of their own beside their target; replacing keeps the replaced
// file's permission bits; a failed replacement leaves both files as they were.
TEST(FileTest, TemporariesAreExclusiveAndReplaceWhole) {
  ScratchDir dir;
  test::WriteBytes(dir.Path("taken"), "the user's");
  EXPECT_EQ(nullptr, CreateNewFile(dir.Path("taken").c_str()));
#ifndef _WIN32  // nor is a dangling link followed to create its target
  fs::create_symlink(dir.Path("nowhere"), dir.Path("link"));
  EXPECT_EQ(nullptr, CreateNewFile(dir.Path("link").c_str()));
  fs::remove(dir.Path("link"));
  fs::permissions(dir.Path("taken"), fs::perms(0640));
#endif
  std::string temps[2];
  for (std::string& temp : temps) {
    std::FILE* file = CreateTempFile(dir.Path("target").c_str(), &temp);
    ASSERT_NE(nullptr, file);
    EXPECT_EQ(0, std::fclose(file));
    const fs::path path = test::FsPath(temp);
    EXPECT_EQ(dir.path(), path.parent_path().u8string());
    EXPECT_TRUE(IsTempFileName(path.filename().u8string().c_str())) << temp;
  }
  EXPECT_NE(temps[0], temps[1]);
  for (const char* name :
       {"~tovrel-abc.tmp", "~tovrel-0123ABCD.tmp", "~tovrel-0123abcd.tmpx", "x~tovrel-0123abcd.tmp"}) {
    EXPECT_FALSE(IsTempFileName(name)) << name;
  }
  test::WriteBytes(temps[0], "new");
  ASSERT_TRUE(MoveReplacing(temps[0].c_str(), dir.Path("taken").c_str()));
  EXPECT_EQ("new", ReadBytes(dir.Path("taken")));
  EXPECT_TRUE(kWindows || fs::status(dir.Path("taken")).permissions() == fs::perms(0640));
  fs::create_directory(test::FsPath(dir.Path("busy")));
  for (const char* to : {"missing/to", "busy"})
    EXPECT_FALSE(MoveReplacing(temps[1].c_str(), dir.Path(to).c_str())) << to;
  EXPECT_TRUE(RemoveFile(temps[1].c_str()));
  EXPECT_TRUE(RemoveFile(temps[1].c_str()));  // already gone counts as removed
  EXPECT_EQ(2, std::distance(fs::directory_iterator(test::FsPath(dir.path())), fs::directory_iterator()));
}

}  // namespace
}  // namespace tovrel
