// The tool's naming rules, row by row: which name is a save or an archive, which found file is a member
// of a save, which file an entry becomes and whether unpacking writes it, and how its name is shown.
#include "app/naming.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "test_util.h"

namespace tovrel::test {
namespace {

// A folder that needs not exist, written as the platform writes one.
const std::string kFolder = kWindows ? "C:\\saves\\" : "/saves/";

TEST(NamingTest, KindFollowsTheLastExtensionOfTheName) {
  const struct {
    const char* name;
    FileKind kind;
  } kCases[] = {{"a.sav", FileKind::kSave},          {"a.ssav", FileKind::kArchive},
                {".sav", FileKind::kSave},           {"a.SAV", FileKind::kOther},
                {"a.sav.bak", FileKind::kOther},     {"a.old.sav", FileKind::kSave},
                {"a.savx", FileKind::kOther},        {"a", FileKind::kOther},
                {"d.sav/a", FileKind::kOther},       {"d/a.ssav", FileKind::kArchive},
                {"/saves/x.sav/", FileKind::kOther}, {"a.sav ", FileKind::kOther}};
  for (const auto& c : kCases) EXPECT_EQ(c.kind, KindOf(c.name)) << c.name;
}

TEST(NamingTest, MembersAreTheSavesOwnFilesAndNoArchive) {
  const std::string archive = kFolder + "myarch.ssav";
  const struct {
    const char* name;
    bool isDirectory;
    MemberFate fate;
  } kCases[] = {
      {"autosave1.sav", false, MemberFate::kAdd},
      {"autosave1.jpg", false, MemberFate::kAdd},
      {"autosave1", false, MemberFate::kAdd},  // no extension: the empty entry name
      {"autosave1.", false, MemberFate::kAdd},
      {"autosave1.old.sav", false, MemberFate::kLookAlike},
      {"autosave1.sav.bak", false, MemberFate::kLookAlike},
      {"autosave1.ssav", false, MemberFate::kLeftOut},  // the save's own archive, not the one being made
      {"autosave1.x.ssav", false, MemberFate::kLookAlike},
      {"autosave1.d", true, MemberFate::kLeftOut},
      // the save's archive as the file system spells it: another file on POSIX, the same on Windows
      {"autosave1.SSAV", false, kWindows ? MemberFate::kLeftOut : MemberFate::kAdd},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.fate, MemberFateOf(kFolder, "autosave1", FoundFile{c.name, c.isDirectory}, archive))
        << c.name;
  }
  // the archive being made, whatever it is called
  EXPECT_EQ(MemberFate::kLeftOut, MemberFateOf(kFolder, "x", FoundFile{"x.y", false}, kFolder + "x.y"));
}

TEST(NamingTest, EntriesGoBesideTheArchiveThreeAtMost) {
  EntryRules rules(kFolder, "x");
  EXPECT_EQ(kFolder + "x.ssav", rules.ArchivePath());
  const std::string tooLong(kMaxPath, 'n');
  const struct {
    std::string entry;
    EntryFate fate;
  } kCases[] = {{".sav", EntryFate::kWrite},       {"", EntryFate::kWrite},
                {"/a", EntryFate::kBadName},       {"\\a", EntryFate::kBadName},
                {"a:b", EntryFate::kBadName},      {".ssav", EntryFate::kOverArchive},
                {tooLong, EntryFate::kPathTooLong}};
  for (const auto& c : kCases) {
    const EntryDecision decision = rules.Decide(c.entry.c_str());
    EXPECT_EQ(c.fate, decision.fate) << c.entry.substr(0, 10);
    EXPECT_EQ(kFolder + "x" + c.entry, decision.outputPath) << c.entry.substr(0, 10);
  }
  // deciding counts nothing; three counted files close the archive to every entry, good or bad
  for (int counted = 0; counted < kMaxFilesPerUnpack; ++counted) {
    EXPECT_EQ(EntryFate::kWrite, rules.Decide(".jpg").fate) << counted;
    rules.Count();
  }
  EXPECT_EQ(kMaxFilesPerUnpack, rules.Files());
  for (const char* entry : {".jpg", "/a", ".ssav"}) EXPECT_EQ(EntryFate::kSkipped, rules.Decide(entry).fate);
  // a name is shown on one line, whatever bytes it holds
  EXPECT_EQ("a\\x0Ab\\x7F\\x00c\\x1F Сохранение ~!",
            Printable(std::string("a\nb\x7f\0c\x1f Сохранение ~!", 31)));
}

}  // namespace
}  // namespace tovrel::test
