#include <climits>
#include <cstdint>

#include <gtest/gtest.h>

#include "common/error.h"
#include "search/criteria.h"
#include "search/text.h"
#include "tests/doubles/memory_file_system.h"

namespace kestrava {
namespace {

using testing::FileTimeOf;
using testing::FixedOffsetTime;
using testing::MemoryFileSystem;

TFindData Entry(const std::string& name, std::uint32_t attributes, std::int64_t size = 0) {
  TFindData d;
  d.Name = name;
  d.Attributes = attributes;
  d.SizeHigh = static_cast<std::uint32_t>(static_cast<std::uint64_t>(size) >> 32);
  d.SizeLow = static_cast<std::uint32_t>(size);
  return d;
}

TEST(SearchCriteria, DefaultsRejectHiddenSystemAndFoldersOnly) {
  TSearchCriteria c;
  FixedOffsetTime time;
  EXPECT_TRUE(c.Matches("C:\\", Entry("a.txt", attr::kArchive, 5'000'000'000LL), time));
  EXPECT_TRUE(c.Matches("C:\\", Entry("a", attr::kReadonly | attr::kReparsePoint), time));
  EXPECT_FALSE(c.Matches("C:\\", Entry("h", attr::kHidden), time));
  EXPECT_FALSE(c.Matches("C:\\", Entry("s", attr::kSystem | attr::kArchive), time));
  EXPECT_FALSE(c.Matches("C:\\", Entry("d", attr::kDirectory), time));
  EXPECT_EQ(time.conversions, 0) << "no bounds: no time is converted";

  c.Attributes().Clear();
  EXPECT_EQ(c.Attributes().Hidden(), fsIgnore);
  EXPECT_TRUE(c.Matches("C:\\", Entry("d", attr::kDirectory | attr::kHidden | attr::kSystem), time));
}

TEST(AttributesCriteria, StatusesLiveInExactlyOneMask) {
  TAttributesCriteria a;
  EXPECT_EQ(a.UnsetMask, 0x16u);
  EXPECT_EQ(a.Directory(), fsUnset);
  a.Clear();
  a.SetStatus(5, fsAnyUnset);
  EXPECT_EQ(a.GetStatus(5), fsAnyUnset);
  EXPECT_TRUE(a.Matches(attr::kArchive));
  EXPECT_TRUE(a.Matches(0));
  EXPECT_FALSE(a.Matches(attr::kDirectory | attr::kArchive));
  a.SetStatus(5, fsSet);
  EXPECT_EQ(a.SetMask, 0x10u);
  EXPECT_EQ(a.AnyUnsetMask, 0u);
  a.SetStatus(5, fsIgnore);
  EXPECT_EQ(a.SetMask | a.UnsetMask | a.AnySetMask | a.AnyUnsetMask, 0u);
  // Index 33 names the same bit as index 1: the shift is taken modulo 32.
  a.SetStatus(33, fsUnset);
  EXPECT_EQ(a.Readonly(), fsUnset);
}

// Every int is an index: the bit is 1 shifted by (index - 1) modulo 32, down to INT_MIN.
TEST(AttributesCriteria, EveryIndexNamesTheBitOfItsShiftModulo32) {
  const struct {
    int index;
    std::uint32_t bit;
  } cases[] = {
      {1, 0x1u},           {32, 0x80000000u}, {0, 0x80000000u},       {-31, 0x1u},
      {INT_MAX, 0x40000000u}, {INT_MIN, 0x80000000u}, {INT_MIN + 1, 0x1u},
  };
  for (const auto& c : cases) {
    TAttributesCriteria a;
    a.Clear();
    a.SetStatus(c.index, fsAnySet);
    EXPECT_EQ(a.AnySetMask, c.bit) << c.index;
    EXPECT_EQ(a.GetStatus(c.index), fsAnySet) << c.index;
    a.SetStatus(c.index, fsIgnore);
    EXPECT_EQ(a.AnySetMask, 0u) << c.index;
  }
}

TEST(AttributesCriteria, AnySetAndAnyUnsetNeedOneOfTheirBits) {
  TAttributesCriteria a;
  a.Clear();
  a.SetHidden(fsAnySet);
  a.SetSystem(fsAnySet);
  a.SetReadonly(fsAnyUnset);
  a.SetArchive(fsAnyUnset);
  EXPECT_TRUE(a.Matches(attr::kHidden));
  EXPECT_TRUE(a.Matches(attr::kSystem | attr::kReadonly));
  EXPECT_FALSE(a.Matches(attr::kArchive)) << "neither hidden nor system";
  EXPECT_FALSE(a.Matches(attr::kHidden | attr::kReadonly | attr::kArchive)) << "both any-unset bits set";
  a.SetVirtual(fsSet);
  EXPECT_EQ(a.SetMask, 0x10000u);
  EXPECT_FALSE(a.Matches(attr::kHidden));
  EXPECT_TRUE(a.Matches(attr::kHidden | attr::kVirtual));
}

TEST(SizeCriteria, BoundsAreInclusiveAndSixtyFourBit) {
  TSizeCriteria s;
  s.Min = 100;
  s.Max = 100;
  EXPECT_TRUE(s.Matches(100));
  EXPECT_FALSE(s.Matches(99));
  EXPECT_FALSE(s.Matches(101));
  s.Min = 4'294'967'297LL;  // 4 GiB + 1: only the high word tells it from 1
  s.Max = 0;
  TSearchCriteria c;
  c.SetSize(s);
  FixedOffsetTime time;
  EXPECT_FALSE(c.Matches("C:\\", Entry("small", 0, 1), time));
  EXPECT_TRUE(c.Matches("C:\\", Entry("big", 0, 5LL << 30), time));
}

TEST(DateTime, EncodingAndTheThreeKindsOfBound) {
  EXPECT_DOUBLE_EQ(EncodeDateTime({1899, 12, 30, 0, 0, 0, 0}), 0.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime({2024, 3, 10, 12, 0, 0, 0}), 45361.5);
  EXPECT_DOUBLE_EQ(EncodeDateTime({1899, 12, 29, 6, 0, 0, 0}), -1.25);
  const double march10 = 45361;
  // A date-only bound admits the whole of that day on both sides.
  EXPECT_TRUE(IsTimeInRange(march10 + 0.99, march10, 0));
  EXPECT_FALSE(IsTimeInRange(march10 + 1.01, march10, 0));
  EXPECT_TRUE(IsTimeInRange(march10 + 0.01, 0, march10));
  EXPECT_FALSE(IsTimeInRange(march10 - 0.01, 0, march10));
  // A time-only bound compares the time of day on any date.
  EXPECT_TRUE(IsTimeInRange(march10 + 0.5, 0, 0.5));
  EXPECT_TRUE(IsTimeInRange(12.75, 0, 0.5));
  EXPECT_FALSE(IsTimeInRange(march10 + 0.49, 0, 0.5));
  EXPECT_TRUE(IsTimeInRange(march10 + 0.2, 0.25, 0));
  // A full bound compares exactly.
  EXPECT_TRUE(IsTimeInRange(march10 + 0.5, march10 + 0.5, march10 + 0.5));
  EXPECT_FALSE(IsTimeInRange(march10 + 0.51, march10 + 0.5, 0));
  EXPECT_TRUE(IsTimeInRange(1.0, 0, 0));
}

TEST(DateTimeCriteria, ConvertsOnlyBoundPairsToLocalTime) {
  FixedOffsetTime time(120);  // UTC+2
  TDateTimeCriteria t;
  const std::uint64_t written = FileTimeOf(2024, 3, 10, 22, 30);  // 00:30 on 11 March, local
  t.ModifiedBefore = 45361;                                        // 10 March, no time
  EXPECT_FALSE(t.Matches(0, written, 0, time));
  EXPECT_EQ(time.conversions, 1) << "only the modified pair was converted";
  t.ModifiedBefore = 45362;
  EXPECT_TRUE(t.Matches(0, written, 0, time));
  t.ModifiedAfter = 0.5;  // at or after noon, any day
  EXPECT_FALSE(t.Matches(0, written, 0, time));
  t.ModifiedAfter = 0;
  t.CreatedAfter = 45362;
  EXPECT_FALSE(t.Matches(FileTimeOf(2024, 3, 10, 21, 59), written, 0, time)) << "created 23:59 local";
  EXPECT_TRUE(t.Matches(FileTimeOf(2024, 3, 10, 22, 0), written, 0, time));
  EXPECT_DOUBLE_EQ(FileTimeToLocalDateTime(FileTimeOf(2024, 3, 10, 10, 0, 0, 500), time),
                   45361.5 + 500.0 / 86400000.0);
}

TEST(FileCriteria, FiltersExcludeAndReadmitInListOrder) {
  TFileCriteria f;
  EXPECT_TRUE(f.Matches("C:\\Games\\", "a.TMP"));
  f.Filters().Add("*.tmp");
  EXPECT_FALSE(f.Matches("C:\\Games\\", "a.TMP"));
  EXPECT_TRUE(f.Matches("C:\\Games\\", "a.txt"));
  f.Filters().SetText(">*\\save\\*\r\n<*.tmp\r\n");
  EXPECT_TRUE(f.Matches("C:\\Games\\save\\", "x.tmp")) << "readmitted by the earlier line";
  EXPECT_FALSE(f.Matches("C:\\Games\\", "x.tmp")) << "a leading < is dropped";
  f.Filters().SetText("*.");
  EXPECT_FALSE(f.Matches("C:\\Games\\", "readme")) << "the test sees readme.";
  EXPECT_TRUE(f.Matches("C:\\Games\\", "a.txt"));
  f.Filters().SetText("\r\n");
  EXPECT_TRUE(f.Matches("C:\\Games\\", "a.txt")) << "an empty line matches nothing";
  f.Filters().SetText("*.txt\r\n>*");
  EXPECT_FALSE(f.Matches("C:\\Games\\", "a.txt")) << "the first matching line decides";
}

TEST(SplitToList, TrimsDropsEmptiesAndCaseInsensitiveRepeats) {
  const TStringList list = SplitToList(" a; ;A ;b;", ';');
  EXPECT_EQ(list, (TStringList{"a", "b"}));
  EXPECT_EQ(SplitToList("\t\xC9t\xE9;\xE9T\xC9", ';'), (TStringList{"\xC9t\xE9"}))
      << "the code page's letters count too";
  EXPECT_TRUE(SplitToList("", ';').Empty());
  EXPECT_EQ(SplitToList("x", ';'), (TStringList{"x"}));
}

TEST(FileCriteria, TargetPathsAreCachedUntilAFeedingSettingChanges) {
  MemoryFileSystem fs;
  TFileCriteria f;
  f.SetLocation("C:\\Games");
  TTargetPaths* first = &f.TargetPaths(fs);
  EXPECT_EQ(&f.TargetPaths(fs), first);
  f.SetFileName("");           // unchanged value
  f.SetSubfolders(true);       // unchanged value
  f.Filters().Add("*.tmp");    // filters do not feed the list
  EXPECT_TRUE(f.HasTargetPaths());

  auto dropsIt = [&](const char* what, auto change) {
    f.TargetPaths(fs);
    change();
    EXPECT_FALSE(f.HasTargetPaths()) << what;
  };
  dropsIt("FileName", [&] { f.SetFileName("*.exe"); });
  dropsIt("FileName differing only in case", [&] { f.SetFileName("*.EXE"); });
  dropsIt("Location", [&] { f.SetLocation("C:\\Other"); });
  dropsIt("Subfolders", [&] { f.SetSubfolders(false); });
  dropsIt("MinLevel", [&] { f.SetMinLevel(2); });
  dropsIt("MaxLevel", [&] { f.SetMaxLevel(3); });
  dropsIt("a line added to Paths", [&] { f.Paths().Add("D:\\x\\*.sav"); });
  dropsIt("Paths cleared", [&] { f.Paths().Clear(); });
}

TEST(FileCriteria, TargetPathsTakeLocationsFirstThenPathLines) {
  MemoryFileSystem fs;
  TFileCriteria f;
  f.SetFileName("*.exe; *.dll ;*.EXE");
  f.SetLocation("C:\\Games;;D:\\Apps");
  f.Paths().SetText("  E:\\Saves\\*.sav  \r\n\r\n");
  f.SetMaxLevel(4);
  TTargetPaths& t = f.TargetPaths(fs);
  ASSERT_EQ(t.Count(), 3u);
  EXPECT_EQ(t.Items(0).Folder, "C:\\Games\\");
  EXPECT_EQ(t.Items(0).Masks, (TStringList{"*.exe", "*.dll"}));
  EXPECT_EQ(t.Items(1).Folder, "D:\\Apps\\");
  EXPECT_EQ(t.Items(2).Folder, "E:\\Saves\\");
  EXPECT_EQ(t.Items(2).Masks, (TStringList{"*.sav"}));
  EXPECT_EQ(t.Items(2).MaxLevel, 4);

  TFileCriteria noNames;
  noNames.SetLocation("C:\\Games");
  EXPECT_EQ(noNames.TargetPaths(fs).Items(0).Masks, (TStringList{"*.*"}));
}

TEST(Criteria, AssignCopiesEverySettingAndRefusesOtherClasses) {
  TSearchCriteria source;
  source.Files().SetFileName("*.exe");
  source.Files().SetLocation("C:\\Games");
  source.Files().Paths().Add("D:\\*.sav");
  source.Files().Filters().Add("*.tmp");
  source.Files().SetSubfolders(false);
  source.Files().SetMinLevel(2);
  source.Files().SetMaxLevel(3);
  source.Attributes().SetArchive(fsSet);
  source.TimeStamp().AccessedAfter = 7;
  source.Size().Max = 9;

  TSearchCriteria copy;
  copy.Assign(&source);
  EXPECT_EQ(copy.Files().FileName(), "*.exe");
  EXPECT_EQ(copy.Files().Location(), "C:\\Games");
  EXPECT_EQ(copy.Files().Paths(), (TStringList{"D:\\*.sav"}));
  EXPECT_EQ(copy.Files().Filters(), (TStringList{"*.tmp"}));
  EXPECT_FALSE(copy.Files().Subfolders());
  EXPECT_EQ(copy.Files().MinLevel(), 2);
  EXPECT_EQ(copy.Files().MaxLevel(), 3);
  EXPECT_EQ(copy.Attributes().SetMask, 0x20u);
  EXPECT_EQ(copy.Attributes().UnsetMask, 0x16u);
  EXPECT_EQ(copy.TimeStamp().AccessedAfter, 7);
  EXPECT_EQ(copy.Size().Max, 9);
  // The copy is independent of its source.
  source.Files().Paths().Add("E:\\*");
  EXPECT_EQ(copy.Files().Paths().Count(), 1u);

  try {
    copy.Files().Assign(&source.Size());
    FAIL() << "no exception";
  } catch (const KestravaError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TSizeCriteria to a TFileCriteria");
  }
  EXPECT_THROW(copy.Assign(nullptr), KestravaError);
  EXPECT_THROW(copy.Size().Assign(&copy), KestravaError);
  EXPECT_THROW(copy.TimeStamp().Assign(&copy.Attributes()), KestravaError);
  EXPECT_THROW(copy.Attributes().Assign(&copy.TimeStamp()), KestravaError);
}

TEST(Criteria, ClearResetsEveryPart) {
  TSearchCriteria c;
  c.Files().SetFileName("*.exe");
  c.Files().SetLocation("C:\\");
  c.Files().Paths().Add("x");
  c.Files().Filters().Add("y");
  c.Files().SetSubfolders(false);
  c.Files().SetMinLevel(1);
  c.Files().SetMaxLevel(1);
  c.TimeStamp().CreatedBefore = 1;
  c.TimeStamp().AccessedAfter = 2;
  c.Size().Min = 3;
  c.Clear();
  EXPECT_EQ(c.Files().FileName(), "");
  EXPECT_EQ(c.Files().Location(), "");
  EXPECT_TRUE(c.Files().Paths().Empty());
  EXPECT_TRUE(c.Files().Filters().Empty());
  EXPECT_TRUE(c.Files().Subfolders());
  EXPECT_EQ(c.Files().MinLevel() + c.Files().MaxLevel(), 0);
  EXPECT_FALSE(c.TimeStamp().HasBounds());
  EXPECT_EQ(c.Size().Min, 0);
  EXPECT_EQ(c.Attributes().UnsetMask, 0u);
}

}  // namespace
}  // namespace kestrava
