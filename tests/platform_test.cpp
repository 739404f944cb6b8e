// Tests of the POSIX platform layer: path folding and splitting, the save-file search, and replacing a
// file by another, also across file systems.
#include "platform/platform.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
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

// `path` written with '/' turned into the platform's separator.
std::string Native(std::string path) {
#ifdef _WIN32
  std::replace(path.begin(), path.end(), '/', '\\');
#endif
  return path;
}

TEST(MakeAbsolutePathTest, JoinsAndFoldsLexically) {
  ScratchDir dir;
  fs::create_directory(dir.Path("sub"));
  CurrentDir cwd(dir.Path("sub"));
  const std::string here = fs::current_path().string();
  const std::string parent = fs::current_path().parent_path().string();
  std::vector<std::pair<std::string, std::string>> cases = {
      {"x.sav", here + "/x.sav"},      {"./x.sav", here + "/x.sav"}, {"a/b/../c.sav", here + "/a/c.sav"},
      {"../x.sav", parent + "/x.sav"}, {"a//b", here + "/a/b"},
  };
#ifndef _WIN32  // drive-relative roots and trailing separators follow the Windows runtime there
  cases.insert(cases.end(), {{"a/", here + "/a/"},
                             {"/p/./q/../r", "/p/r"},
                             {"/../../x", "/x"},
                             {"/..", "/"},
                             {"missing/../..", parent + "/"}});
#endif
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    std::string out;
    ASSERT_TRUE(MakeAbsolutePath(Native(c.first).c_str(), &out));
    EXPECT_EQ(Native(c.second), out);
  }
}

TEST(MakeAbsolutePathTest, RefusesWhatWouldNotFit) {
  ScratchDir dir;
  CurrentDir cwd(dir.path());
  const std::string here = fs::current_path().string();
  const std::size_t room = kMaxPath - here.size() - 2;  // directory, separator, name, terminator
  std::string out;
  EXPECT_TRUE(MakeAbsolutePath(std::string(room, 'a').c_str(), &out));
  EXPECT_EQ(Native(here + "/" + std::string(room, 'a')), out);
  EXPECT_FALSE(MakeAbsolutePath(std::string(room + 1, 'a').c_str(), &out));
  EXPECT_FALSE(MakeAbsolutePath(std::string(kMaxPath, 'r').c_str(), &out));
}

TEST(SplitPathTest, CutsDirectoryBaseAndLastExtension) {
  const struct {
    const char* in;
    const char* dir;
    const char* base;
    const char* ext;
  } kCases[] = {
      {"/d/autosave1.sav", "/d/", "autosave1", ".sav"},
      {"/d/x.old.sav", "/d/", "x.old", ".sav"},
      {"/d.x/name", "/d.x/", "name", ""},
      {"/d/.bashrc", "/d/", "", ".bashrc"},
      {"/d/dir/", "/d/dir/", "", ""},
      {"/x.", "/", "x", "."},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.in);
    PathParts parts;
    ASSERT_TRUE(SplitPath(Native(c.in).c_str(), &parts));
    EXPECT_EQ(Native(c.dir), parts.directory);
    EXPECT_EQ(c.base, parts.baseName);
    EXPECT_EQ(c.ext, parts.extension);
  }
  PathParts parts;
  EXPECT_FALSE(SplitPath("no-directory.sav", &parts));
}

TEST(FindExtensionTest, FindsLastDotOfFinalComponent) {
  const struct {
    const char* in;
    std::size_t at;
  } kCases[] = {
      {".", 0}, {"a.b.c", 3}, {"dir.x/name", 10}, {"name", 4}, {"a.", 1}, {"", 0}, {"/p.q/r.s", 6},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.in);
    const std::string name = Native(c.in);
    EXPECT_EQ(name.c_str() + c.at, FindExtension(name.c_str()));
  }
}

TEST(ListMatchingFilesTest, FindsBaseAndBaseDotAnythingSorted) {
  ScratchDir dir;
  for (const char* name : {"autosave1.sav", "autosave1.jpg", "autosave1", "autosave10.sav",
                           "autosave1.sav.bak", "autosave1.z", "autosave1_x", "other.sav"}) {
    WriteBytes(dir.Path(name), "x");
  }
  fs::create_directory(dir.Path("autosave1.d"));
  std::vector<std::pair<std::string, bool>> want = {{"autosave1", false},         {"autosave1.d", true},
                                                    {"autosave1.jpg", false},     {"autosave1.sav", false},
                                                    {"autosave1.sav.bak", false}, {"autosave1.z", false}};
#ifndef _WIN32
  WriteBytes(dir.Path("Autosave1.sav"), "x");  // another name where case counts
  WriteBytes(dir.Path("autosave1.\xC3\xA9"), "x");
  fs::create_symlink("nowhere", dir.Path("autosave1.lnk"));
  EXPECT_FALSE(PathExists(dir.Path("autosave1.lnk").c_str()));  // links are followed, as a read would
  // unsigned byte order: the 0xC3 name sorts after every ASCII one
  want.insert(want.begin() + 3, {"autosave1.lnk", false});
  want.push_back({"autosave1.\xC3\xA9", false});
#endif
  EXPECT_TRUE(PathExists(dir.Path("autosave1.d").c_str()));

  std::vector<FoundFile> found;
  ASSERT_TRUE(ListMatchingFiles(Native(dir.path() + "/").c_str(), "autosave1", &found));
  std::vector<std::pair<std::string, bool>> got;
  for (const FoundFile& f : found) got.emplace_back(f.name, f.isDirectory);
  EXPECT_EQ(want, got);
}

TEST(ListMatchingFilesTest, MatchesWildcardCharactersLiterally) {
  ScratchDir dir;
  std::vector<std::pair<std::string, std::string>> cases = {{"a[b]", "a[b].sav"}};
#ifndef _WIN32  // '*' and '?' cannot be in a Windows file name
  cases.insert(cases.end(), {{"a*", "a*.sav"}, {"a?", "a?.sav"}});
#endif
  WriteBytes(dir.Path("ab.sav"), "x");
  WriteBytes(dir.Path("ab"), "x");
  for (const auto& c : cases) WriteBytes(dir.Path(c.second), "x");
  const std::string directory = Native(dir.path() + "/");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    std::vector<FoundFile> found;
    ASSERT_TRUE(ListMatchingFiles(directory.c_str(), c.first.c_str(), &found));
    ASSERT_EQ(1u, found.size());
    EXPECT_EQ(c.second, found[0].name);
  }
}

TEST(ListMatchingFilesTest, FailsEmptyWhenNothingMatchesOrNoDirectory) {
  ScratchDir dir;
  WriteBytes(dir.Path("autosave10.sav"), "x");
  std::vector<FoundFile> found = {FoundFile{"stale", false}};
  EXPECT_FALSE(ListMatchingFiles(Native(dir.path() + "/").c_str(), "autosave1", &found));
  EXPECT_TRUE(found.empty());
  EXPECT_FALSE(ListMatchingFiles(Native(dir.path() + "/missing/").c_str(), "autosave1", &found));
  EXPECT_TRUE(found.empty());
}

// Names in `directory`, for spotting leftovers.
std::vector<std::string> Names(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(directory)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(MoveReplacingTest, ReplacesWithinDirectory) {
  ScratchDir dir;
  WriteBytes(dir.Path("new"), "new bytes");
  WriteBytes(dir.Path("old"), "old");
  ASSERT_TRUE(MoveReplacing(dir.Path("new").c_str(), dir.Path("old").c_str()));
  EXPECT_EQ("new bytes", ReadBytes(dir.Path("old")));
  EXPECT_EQ(std::vector<std::string>{"old"}, Names(dir.path()));
}

TEST(MoveReplacingTest, CopiesAcrossFileSystems) {
#ifdef _WIN32
  GTEST_SKIP() << "the copy fallback is the POSIX one; Windows moves with MoveFileEx";
#endif
  struct stat shm, tmp;
  ScratchDir target;
  if (stat("/dev/shm", &shm) != 0 || !S_ISDIR(shm.st_mode) || stat(target.path().c_str(), &tmp) != 0 ||
      shm.st_dev == tmp.st_dev) {
    GTEST_SKIP() << "no second file system at /dev/shm";
  }
  ScratchDir source("/dev/shm");
  const std::string bytes = test::RandomBytes(3 * 16384 + 5, 7);  // several copy pieces
  WriteBytes(source.Path("from"), bytes);
  ASSERT_EQ(0, chmod(source.Path("from").c_str(), 0640));
  WriteBytes(target.Path("to"), "old archive");

  ASSERT_TRUE(MoveReplacing(source.Path("from").c_str(), target.Path("to").c_str()));
  EXPECT_EQ(bytes, ReadBytes(target.Path("to")));
  EXPECT_FALSE(FileExists(source.Path("from")));
  EXPECT_EQ(std::vector<std::string>{"to"}, Names(target.path()));  // no temporary left beside it
  struct stat moved;
  ASSERT_EQ(0, stat(target.Path("to").c_str(), &moved));
  EXPECT_EQ(0640u, moved.st_mode & 0777u);

  // across file systems into a directory that does not exist: nothing moves, nothing is left
  WriteBytes(source.Path("again"), "again");
  EXPECT_FALSE(MoveReplacing(source.Path("again").c_str(), target.Path("missing/to").c_str()));
  EXPECT_EQ("again", ReadBytes(source.Path("again")));
  EXPECT_EQ(std::vector<std::string>{"to"}, Names(target.path()));
}

TEST(MoveReplacingTest, FailureLeavesSourceAndCreatesNothing) {
  ScratchDir dir;
  WriteBytes(dir.Path("from"), "bytes");
  EXPECT_FALSE(MoveReplacing(dir.Path("from").c_str(), dir.Path("missing/to").c_str()));
  EXPECT_EQ("bytes", ReadBytes(dir.Path("from")));
  EXPECT_FALSE(FileExists(dir.Path("missing")));
  // a directory in the way is not replaced either
  fs::create_directory(dir.Path("busy"));
  WriteBytes(dir.Path("busy/inside"), "kept");
  EXPECT_FALSE(MoveReplacing(dir.Path("from").c_str(), dir.Path("busy").c_str()));
  EXPECT_EQ("bytes", ReadBytes(dir.Path("from")));
  EXPECT_EQ("kept", ReadBytes(dir.Path("busy/inside")));
}

}  // namespace
}  // namespace tovrel
