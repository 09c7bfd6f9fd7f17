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

}  // namespace
}  // namespace kestrava
