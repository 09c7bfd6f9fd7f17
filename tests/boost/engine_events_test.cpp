// The worker's handlers of the defragmentation engine's events: what reaches the window's status
// panel, and what they cost over a file whose sparse range fires an event every 64 clusters.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "boost/thread_boost.h"
#include "tests/doubles/fake_registry.h"
#include "tests/doubles/fake_service_manager.h"

namespace kestrava {
namespace {

// The bound is for the program as built; the sanitizers' checks make every call a few times
// slower.
#if defined(__SANITIZE_ADDRESS__)
constexpr double kSecondsAllowed = 2.0 * 3;
#else
constexpr double kSecondsAllowed = 2.0;
#endif

class CountingWindow final : public BoostWindowPort {
 public:
  bool sysAbort = false;
  std::vector<std::string> status;
  bool IsChecked(OptionBox) override { return true; }
  std::string GamePath() override { return "C:\\Games"; }
  bool SysAbort() const override { return sysAbort; }
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

  // A hole of 2^32 - 64 clusters: one event per 64 clusters, all for the same path.
  const std::wstring holey = L"C:\\Games\\holey.pak";
  constexpr std::uint32_t kEvents = (0xFFFFFFFFu - 63) / 64;
  bool abort = false;
  const auto start = std::chrono::steady_clock::now();
  for (std::uint32_t i = 0; i < kEvents; ++i) worker.EngineProgress(*engine, abort, holey);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  RecordProperty("seconds", std::to_string(seconds));
  std::printf("%u progress events of one path: %.2f s\n", kEvents, seconds);
  EXPECT_LT(seconds, kSecondsAllowed);
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
