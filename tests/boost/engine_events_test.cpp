// The worker's handlers of the defragmentation engine's events: what reaches the window's status
// panel over a file whose sparse range fires an event every 64 clusters. What the handlers cost
// per event is bench/boost_bench's to measure.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "boost/thread_boost.h"
#include "tests/doubles/fake_registry.h"
#include "tests/doubles/fake_service_manager.h"

namespace kestrava {
namespace {

class CountingWindow final : public BoostWindowPort {
 public:
  bool sysAbort = false;
  std::vector<std::string> status;
  mutable int abortReads = 0;
  bool IsChecked(OptionBox) override { return true; }
  std::string GamePath() override { return "C:\\Games"; }
  bool SysAbort() const override {
    ++abortReads;
    return sysAbort;
  }
  void SetStatusText(const std::string& text) override { status.push_back(text); }
  bool Synchronize(const std::function<void()>& routine) override {
    routine();
    return true;
  }
};

TEST(EngineEvents, APathIsHandedToTheWindowOnlyWhenItChangesAndAbortIsCopiedEveryTime) {
  CountingWindow window;
  testing::FakeClock clock;
  testing::FakeServiceManager services{clock};
  testing::FakeRegistry registry;
  BoostPorts ports;
  ports.registry = &registry;
  ports.services = &services;
  ports.clock = &clock;
  std::atomic<bool> finished{false};
  TThreadBoost worker(window, true, ports, NoDefragEngine, finished);
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
