#include <gtest/gtest.h>

#include "boost/os_version.h"
#include "tests/doubles/debug_recorder.h"
#include "tests/doubles/fixed_version.h"

namespace kestrava {
namespace {

constexpr std::uint32_t kNt = 2;

TEST(OsVersion, ClassifiesEveryPlatformAndVersion) {
  struct Case {
    OsVersionReport report;
    int code;
  } cases[] = {
      {{1, 4, 10}, kOsWin9x}, {{0, 3, 1}, kOsOther},  {{3, 6, 1}, kOsOther},
      {{kNt, 3, 51}, kOsNt4}, {{kNt, 4, 0}, kOsNt4},  {{kNt, 5, 0}, kOsWin2000},
      {{kNt, 5, 1}, kOsXP},   {{kNt, 5, 2}, kOsNt52}, {{kNt, 5, 3}, kOsOther},
      {{kNt, 6, 0}, kOsVista}, {{kNt, 6, 1}, kOsSeven}, {{kNt, 6, 3}, kOsSeven},
      {{kNt, 10, 0}, kOsOther}, {{kNt, 7, 0}, kOsOther},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ClassifyOsVersion(c.report), c.code)
        << c.report.platformId << " " << c.report.major << "." << c.report.minor;
  }
}

TEST(OsVersion, LogsMajorThenMinorVersion) {
  testing::DebugRecorder recorder;
  FixedVersion xp({kNt, 5, 1});
  EXPECT_EQ(GetOSVersion(xp), kOsXP);
  EXPECT_EQ(recorder.Lines(),
            (std::vector<std::string>{"Tarnwell:majorVer = 5", "Tarnwell:minorVer = 1"}));
}

TEST(OsVersion, FailedQueryIsOtherAndLogsNothing) {
  testing::DebugRecorder recorder;
  FixedVersion broken({kNt, 6, 1}, err::kInvalidParameter);
  EXPECT_EQ(GetOSVersion(broken), kOsOther);
  EXPECT_TRUE(recorder.Lines().empty());
}

}  // namespace
}  // namespace kestrava
