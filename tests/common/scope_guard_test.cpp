#include <gtest/gtest.h>

#include <stdexcept>

#include "common/scope_guard.h"

namespace kestrava {
namespace {

TEST(ScopeExit, RunsOnceOnEveryWayOutUnlessDismissed) {
  int runs = 0;
  {
    const auto guard = MakeScopeExit([&] { ++runs; });
    EXPECT_EQ(runs, 0) << "not before the scope ends";
  }
  EXPECT_EQ(runs, 1);

  try {
    const auto guard = MakeScopeExit([&] { ++runs; });
    throw std::runtime_error("leaving early");
  } catch (const std::runtime_error&) {
    EXPECT_EQ(runs, 2) << "already run while the exception left the scope";
  }

  {
    auto guard = MakeScopeExit([&] { ++runs; });
    guard.Dismiss();
  }
  EXPECT_EQ(runs, 2);
}

}  // namespace
}  // namespace kestrava
