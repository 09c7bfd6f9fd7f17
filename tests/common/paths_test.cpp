#include <gtest/gtest.h>

#include "common/paths.h"
#include "common/system_message.h"
#include "tests/doubles/shift_jis.h"

namespace kestrava {
namespace {

TEST(AddBackslash, AddsExactlyOneTrailingBackslash) {
  EXPECT_EQ(AddBackslash(""), "");
  EXPECT_EQ(AddBackslash("C:"), "C:\\");
  EXPECT_EQ(AddBackslash("C:\\"), "C:\\");
  EXPECT_EQ(AddBackslash("C:\\Games"), "C:\\Games\\");
  EXPECT_EQ(AddBackslash("C:\\Games\\"), "C:\\Games\\");
}

// In Shift-JIS "表" is 0x95 0x5C: its trail byte is not a backslash, so the folder needs one.
TEST(AddBackslash, LooksAtTheLastCharacterNotTheLastByte) {
  const AnsiCodePage sjis = testing::ShiftJisCodePage();
  const AnsiCodePage singleByte{};
  for (const char* name : testing::kTrailBackslashNames) {
    const std::string folder = std::string("C:\\Games\\") + name;
    EXPECT_EQ(AddBackslash(folder, sjis), folder + "\\") << folder;
    EXPECT_EQ(AddBackslash(folder + "\\", sjis), folder + "\\") << folder;
    EXPECT_EQ(AddBackslash(folder, singleByte), folder) << "a single-byte code page sees a backslash";
  }
}

TEST(DriveOfPath, TakesTheFirstTwoCharacters) {
  EXPECT_EQ(DriveOfPath("D:\\Games\\x.exe"), "D:");
  EXPECT_EQ(DriveOfPath("\\\\server\\share"), "\\\\");
  EXPECT_EQ(DriveOfPath("D"), "D");
}

TEST(CollapsePathParts, DropsDotsAndNeverClimbsAboveTheFirstPart) {
  using Parts = std::vector<std::string>;
  EXPECT_EQ(CollapsePathParts("\\Games\\.\\old\\..\\new\\", '\\'), (Parts{"Games", "new"}));
  EXPECT_EQ(CollapsePathParts("/a/../../b//c", '/'), (Parts{"b", "c"}));
  EXPECT_TRUE(CollapsePathParts("", '/').empty());
  // A trail byte equal to the separator belongs to its character.
  EXPECT_EQ(CollapsePathParts("\\Games\\\x95\x5C\\..\\\x83\x5C", '\\', testing::ShiftJisCodePage()),
            (Parts{"Games", "\x83\x5C"}));
}

TEST(SystemMessageText, DropsTrailingControlsBlanksAndFullStops) {
  EXPECT_EQ(TrimMessageText("Access is denied.\r\n"), "Access is denied");
  EXPECT_EQ(TrimMessageText("The service has not been started. . \r\n"),
            "The service has not been started");
  EXPECT_EQ(TrimMessageText("v1.2 ok"), "v1.2 ok");
  EXPECT_EQ(TrimMessageText(". \t\r\n"), "");
}

}  // namespace
}  // namespace kestrava
