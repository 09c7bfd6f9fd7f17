#include <gtest/gtest.h>

#include "search/target_paths.h"
#include "tests/doubles/memory_file_system.h"
#include "tests/doubles/shift_jis.h"

namespace kestrava {
namespace {

using testing::MemoryFileSystem;

struct Parsed {
  std::string folder;
  bool subfolders;
  int minLevel;
  int maxLevel;
};

Parsed Parse(MemoryFileSystem& fs, const std::string& location, bool subfolders = true,
             int minLevel = 7, int maxLevel = 9) {
  TTargetPaths paths(fs);
  Parsed p{"", subfolders, minLevel, maxLevel};
  p.folder = paths.ParseLocation(location, p.subfolders, p.minLevel, p.maxLevel);
  return p;
}

TEST(ParseLocation, PrefixesSetSubfoldersAndLevels) {
  MemoryFileSystem fs;
  Parsed p = Parse(fs, "C:\\Games", false);
  EXPECT_EQ(p.folder, "C:\\Games\\");
  EXPECT_FALSE(p.subfolders);
  EXPECT_EQ(p.minLevel, 7);
  EXPECT_EQ(p.maxLevel, 9);

  p = Parse(fs, ">C:\\Games", false);
  EXPECT_TRUE(p.subfolders);
  EXPECT_EQ(p.minLevel, 7);
  EXPECT_EQ(p.maxLevel, 9);

  p = Parse(fs, "<C:\\Games", true);
  EXPECT_FALSE(p.subfolders);
  EXPECT_EQ(p.folder, "C:\\Games\\");
  EXPECT_EQ(p.maxLevel, 9);

  p = Parse(fs, "3>C:\\Games", false);
  EXPECT_TRUE(p.subfolders);
  EXPECT_EQ(p.minLevel, 0) << "a single number also resets MinLevel";
  EXPECT_EQ(p.maxLevel, 3);

  p = Parse(fs, " 2 - 4 >C:\\Games");
  EXPECT_EQ(p.minLevel, 2);
  EXPECT_EQ(p.maxLevel, 4);
  EXPECT_EQ(p.folder, "C:\\Games\\");

  p = Parse(fs, "x-5>C:\\Games");
  EXPECT_EQ(p.minLevel, 7) << "a part that is not a number keeps its value";
  EXPECT_EQ(p.maxLevel, 5);

  p = Parse(fs, "zz>C:\\Games");
  EXPECT_EQ(p.minLevel, 0);
  EXPECT_EQ(p.maxLevel, 9);

  p = Parse(fs, "5<C:\\Games>");  // the ">" wins over "<"; the text before it is no number
  EXPECT_TRUE(p.subfolders);
  EXPECT_EQ(p.minLevel, 0);
}

TEST(ParseLocation, NormalisesToAFullPathEndingInABackslash) {
  MemoryFileSystem fs;
  fs.currentDirectory = "D:\\Work\\";
  EXPECT_EQ(Parse(fs, "  C:\\Games\\..\\Apps\\.\t").folder, "C:\\Apps\\");
  EXPECT_EQ(Parse(fs, "Saves").folder, "D:\\Work\\Saves\\") << "relative to the current directory";
  EXPECT_EQ(Parse(fs, "2>").folder, "D:\\Work\\") << "no folder at all means the current one";
  EXPECT_EQ(Parse(fs, "C:\\").folder, "C:\\");
  EXPECT_EQ(Parse(fs, "C:/Games/x").folder, "C:\\Games\\x\\");
  fs.mappedDrives['Z'] = "\\\\server\\share";
  EXPECT_EQ(Parse(fs, "z:\\Games").folder, "\\\\server\\share\\Games\\");
  EXPECT_EQ(Parse(fs, "Y:\\Games").folder, "Y:\\Games\\") << "not mapped: the drive form stays";
}

TEST(ParseLevel, AcceptsSignedDecimalOnly) {
  int v = 42;
  EXPECT_TRUE(ParseLevel("17", &v));
  EXPECT_EQ(v, 17);
  EXPECT_TRUE(ParseLevel("-3", &v));
  EXPECT_EQ(v, -3);
  for (const char* bad : {"", "+", "1x", "0x10", " 1", "99999999999"}) {
    v = 42;
    EXPECT_FALSE(ParseLevel(bad, &v)) << bad;
    EXPECT_EQ(v, 42);
  }
}

TEST(TargetPaths, TwoMentionsOfOneFolderMerge) {
  MemoryFileSystem fs;
  TTargetPaths paths(fs);
  TStringList masks{"*.exe"};
  paths.AddFolder("C:\\Games", &masks, true, 0, 0);
  paths.AddFolder("c:\\games\\", &masks, true, 0, 0);
  ASSERT_EQ(paths.Count(), 1u);
  EXPECT_EQ(paths.Items(0).Folder, "c:\\games\\") << "the latest form is stored";
  EXPECT_EQ(paths.Items(0).Masks, (TStringList{"*.exe", "*.exe"}));

  paths.AddFolder("D:\\Apps", nullptr, true, 0, 0);
  TTargetPath& merged = paths.AddPath("2-3>C:\\GAMES\\*.sav", false, 0, 0);
  ASSERT_EQ(paths.Count(), 2u) << "the first position is kept";
  EXPECT_EQ(&merged, &paths.Items(0));
  EXPECT_TRUE(merged.Subfolders) << "the later call's settings win";
  EXPECT_EQ(merged.MinLevel, 2);
  EXPECT_EQ(merged.MaxLevel, 3);
  EXPECT_EQ(merged.Masks, (TStringList{"*.exe", "*.exe", "*.sav"}));
  EXPECT_EQ(paths.Items(1).Masks, (TStringList{"*.*"}));
  EXPECT_EQ(paths.FindFolder("d:\\APPS\\"), &paths.Items(1));
  EXPECT_EQ(paths.FindFolder("D:\\Apps"), nullptr);
}

TEST(TargetPaths, AddPathSplitsAtTheLastBackslashOrDriveColon) {
  MemoryFileSystem fs;
  fs.currentDirectory = "C:\\Work\\";
  TTargetPaths paths(fs);
  EXPECT_EQ(paths.AddPath("D:\\Saves\\", true, 0, 0).Masks, (TStringList{"*.*"}));
  TTargetPath& depth = paths.AddPath("2>E:\\Saves\\*.sav", false, 5, 0);
  EXPECT_EQ(depth.Folder, "E:\\Saves\\");
  EXPECT_EQ(depth.MaxLevel, 2);
  EXPECT_EQ(depth.MinLevel, 0);
  EXPECT_TRUE(depth.Subfolders);
  TTargetPath& drive = paths.AddPath("F:*.txt", true, 0, 0);
  EXPECT_EQ(drive.Folder, "F:\\");
  EXPECT_EQ(drive.Masks, (TStringList{"*.txt"}));
  EXPECT_EQ(paths.AddPath("*.log", true, 0, 0).Folder, "C:\\Work\\");
}

// Under Shift-JIS "表" is 0x95 0x5C. A folder ending in such a character still needs its
// separator (else the walk lists its parent), and a Paths line is split between characters only.
TEST(TargetPaths, ATrailByteEqualToTheBackslashSeparatesNothing) {
  const AnsiCodePage sjis = testing::ShiftJisCodePage();
  for (const char* name : testing::kTrailBackslashNames) {
    MemoryFileSystem fs(sjis);
    TTargetPaths paths(fs, sjis);
    const std::string folder = std::string("C:\\Games\\") + name;
    EXPECT_EQ(paths.AddFolder(folder, nullptr, true, 0, 0).Folder, folder + "\\");
    TTargetPath& line = paths.AddPath(folder + "\\" + name + "*.sav", true, 0, 0);
    EXPECT_EQ(line.Folder, folder + "\\");
    EXPECT_EQ(line.Masks, (TStringList{"*.*", std::string(name) + "*.sav"})) << "one item for both";
    TTargetPath& last = paths.AddPath(folder, true, 0, 0);
    EXPECT_EQ(last.Folder, "C:\\Games\\");
    EXPECT_EQ(last.Masks, (TStringList{name}));
    EXPECT_EQ(paths.Count(), 2u);
  }
}

TEST(TargetPaths, LevelsAreKeptAsTheirLowSixteenBits) {
  MemoryFileSystem fs;
  TTargetPaths paths(fs);
  TTargetPath& t = paths.AddFolder("65537>C:\\x", nullptr, true, 0, 0);
  EXPECT_EQ(t.MaxLevel, 1);
  EXPECT_EQ(paths.AddFolder("C:\\y", nullptr, true, -1, 0).MinLevel, 0xFFFF);
}

}  // namespace
}  // namespace kestrava
