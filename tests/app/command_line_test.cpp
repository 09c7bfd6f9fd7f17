#include "app/command_line.h"

#include <gtest/gtest.h>

namespace kestrava {
namespace {

TEST(AutorunSwitch, AnyPrefixCharacterAndAnyLetterCase) {
  for (const char* argument : {"/autorun", "-AUTORUN", "\\AutoRun", "/aUtOrUn"}) {
    EXPECT_TRUE(IsAutorunSwitch(argument)) << argument;
  }
}

TEST(AutorunSwitch, NeedsExactlyOnePrefixAndNothingAfterTheName) {
  for (const char* argument : {"autorun", "/autorun=1", "/autorun ", "//autorun", "--autorun", "+autorun",
                               "/auto", "/", "", "/autorunx", " /autorun"}) {
    EXPECT_FALSE(IsAutorunSwitch(argument)) << '"' << argument << '"';
  }
}

TEST(AutorunSwitch, LetterCaseFoldsOnlyAsciiLetters) {
  // 0xC1 is an accented A in the Western code page; it must not pass for 'a'.
  EXPECT_FALSE(IsAutorunSwitch("/\xC1utorun"));
}

TEST(AutorunSwitch, FoundAmongOtherArgumentsWhereverItStands) {
  EXPECT_FALSE(HasAutorunSwitch({}));
  EXPECT_FALSE(HasAutorunSwitch({"autorun", "/autorun=1", "C:\\Games"}));
  EXPECT_TRUE(HasAutorunSwitch({"C:\\Games", "-AutoRun"}));
  EXPECT_TRUE(HasAutorunSwitch({"/autorun", "other"}));
}

}  // namespace
}  // namespace kestrava
