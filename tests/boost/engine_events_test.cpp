// The worker's handlers of the defragmentation engine's events: what reaches the window's status
// panel over a file whose sparse range fires an event every 64 clusters. What the handlers cost
// per event is bench/boost_bench's to measure.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "boost/thread_boost.h"
#include "tests/doubles/boost_doubles.h"

namespace kestrava {
namespace {

TEST(EngineEvents, APathIsHandedToTheWindowOnlyWhenItChangesAndAbortIsCopiedEveryTime) {
  testing::FakeBoostWindow window;
  window.gamePath = "C:\\Games";
  testing::FakeBoostSystem system;
  std::atomic<bool> finished{false};
  TThreadBoost worker(window, true, system.Ports(), NoDefragEngine, finished);
  const std::unique_ptr<DefragEngine> engine = NoDefragEngine();

  // A hole of a million clusters: one event per 64 clusters, all for the same path. The path
  // reaches the window once; the abort flag is read at every event.
  const std::wstring holey = L"C:\\Games\\holey.pak";
  constexpr int kEvents = 1000000 / 64;
  bool abort = false;
  for (int i = 0; i < kEvents; ++i) worker.EngineProgress(*engine, abort, holey);
  EXPECT_EQ(window.status, std::vector<std::string>{"C:\\Games\\holey.pak"});
  EXPECT_EQ(window.abortReads, kEvents);
  EXPECT_FALSE(abort);

  worker.EngineSkipFile(*engine, L"C:\\Games\\next.pak", abort, true, 0);
  worker.EngineSkipFile(*engine, L"C:\\Games\\next.pak", abort, true, 0);
  window.sysAbort = true;
  worker.EngineProgress(*engine, abort, holey);
  EXPECT_TRUE(abort);
  EXPECT_EQ(window.status, (std::vector<std::string>{"C:\\Games\\holey.pak", "C:\\Games\\next.pak",
                                                     "C:\\Games\\holey.pak"}));
}

}  // namespace
}  // namespace kestrava
