#include <gtest/gtest.h>

#include "common/debug_log.h"
#include "tests/doubles/debug_recorder.h"

namespace kestrava {
namespace {

TEST(DebugLog, PrefixesEveryLineAndAddsNothingElse) {
  testing::DebugRecorder recorder;
  DebugLog("");
  DebugLog("majorVer = 6");
  EXPECT_EQ(recorder.Lines(), (std::vector<std::string>{"Tarnwell:", "Tarnwell:majorVer = 6"}));
}

TEST(DebugLog, RemovingTheRecorderRestoresThePreviousOutput) {
  testing::DebugRecorder outer;
  {
    testing::DebugRecorder inner;
    DebugLog("inner");
    EXPECT_EQ(inner.Lines().size(), 1u);
  }
  DebugLog("outer");
  EXPECT_EQ(outer.Lines(), (std::vector<std::string>{"Tarnwell:outer"}));
}

// A name from outside written into a line: no control character gets through as it is, and the
// escapes read back unambiguously.
TEST(DebugLog, VisibleTextEscapesControlCharactersAndBackslashes) {
  struct Case {
    std::string text, visible;
  };
  for (const Case& c : {
           Case{"Spooler", "Spooler"},
           Case{"a\r\nTarnwell:Start Service Successfully",
                "a\\x0D\\x0ATarnwell:Start Service Successfully"},
           Case{"tab\there", "tab\\x09here"}, Case{std::string("nul\0x", 5), "nul\\x00x"},
           Case{"\x1F\x7F", "\\x1F\\x7F"},
           Case{"back\\x0D", "back\\\\x0D"},  // a backslash of its own is doubled
           Case{"caf\xE9", "caf\xE9"},        // a character of the code page stays
       }) {
    EXPECT_EQ(VisibleText(c.text), c.visible);
  }
}

}  // namespace
}  // namespace kestrava
