#include <gtest/gtest.h>

#include "common/paths.h"
#include "common/system_message.h"

namespace kestrava {
namespace {

TEST(AddBackslash, AddsExactlyOneTrailingBackslash) {
  EXPECT_EQ(AddBackslash(""), "");
  EXPECT_EQ(AddBackslash("C:"), "C:\\");
  EXPECT_EQ(AddBackslash("C:\\"), "C:\\");
  EXPECT_EQ(AddBackslash("C:\\Games"), "C:\\Games\\");
  EXPECT_EQ(AddBackslash("C:\\Games\\"), "C:\\Games\\");
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
