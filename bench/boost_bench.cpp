// A whole boost and restore over the catalogue (Windows 7's) against a service manager whose
// services stop and start at once, beside one bare port call: the cost per service as a ratio, so
// that sleeping or polling where nothing is pending would show. Also prints what the worker slept
// on the fake clock (0 when nothing was pending).
//
// Then the worker's handler of the engine's progress event over the largest hole a file can have
// (2^32 - 64 clusters, one event per 64 clusters, all for the same path), beside one bare read of
// the window's abort flag, which every event makes: handing the path to the window at each event
// instead of when it changes would show as a ratio far above 1.
//
// Usage: boost_bench [runs]   (default 200)
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "boost/catalogue.h"
#include "boost/thread_boost.h"
#include "common/debug_log.h"
#include "boost/os_version.h"
#include "tests/doubles/boost_doubles.h"

using namespace kestrava;
using Clock = std::chrono::steady_clock;

namespace {

class Discard final : public DebugOutputPort {
 public:
  void Write(const std::string&) override {}
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

void EngineEvents(BoostWindowPort& window, const BoostPorts& ports) {
  std::atomic<bool> finished{false};
  TThreadBoost worker(window, true, ports, &NoDefragEngine, finished);
  const std::unique_ptr<DefragEngine> engine = NoDefragEngine();
  const std::wstring holey = L"C:\\Games\\holey.pak";
  constexpr std::uint32_t kEvents = (0xFFFFFFFFu - 63) / 64;
  bool abort = false;
  const auto start = Clock::now();
  for (std::uint32_t i = 0; i < kEvents; ++i) worker.EngineProgress(*engine, abort, holey);
  const double seconds = Seconds(Clock::now() - start);

  volatile bool sink = false;
  const auto bareStart = Clock::now();
  for (std::uint32_t i = 0; i < kEvents; ++i) sink = window.SysAbort();
  const double bareSeconds = Seconds(Clock::now() - bareStart);

  std::printf("progress events of one path, %u events (a hole of 2^32 - 64 clusters)\n", kEvents);
  std::printf("  all events             %10.2f s\n", seconds);
  std::printf("  per event              %10.1f ns\n", seconds / kEvents * 1e9);
  std::printf("  one bare abort read    %10.1f ns\n", bareSeconds / kEvents * 1e9);
  std::printf("  ratio                  %10.1f   (event / abort read)\n", seconds / bareSeconds);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 200;
  Discard discard;
  SetDebugOutput(&discard);
  testing::FakeBoostSystem system;  // Windows 7
  testing::FakeClock& clock = system.clock;
  testing::FakeServiceManager& services = system.services;
  const BoostPorts ports = system.Ports();
  testing::FakeBoostWindow window;
  window.boxes[OptionBox::chkDefragMem] = false;  // the services alone
  std::atomic<bool> finished{false};

  std::size_t operations = 0;
  const auto start = Clock::now();
  for (int run = 0; run < runs; ++run) {
    TThreadBoost(window, true, ports, &NoDefragEngine, finished).Execute();
    TThreadBoost(window, false, ports, &NoDefragEngine, finished).Execute();
    operations += 2 * (kCatalogueOptions.size() + FixedServices(kOsSeven).count);
  }
  const double perService = Seconds(Clock::now() - start) / static_cast<double>(operations);

  ServiceManagerPort::Handle spooler = 0;
  ServiceManagerPort::Handle manager = 0;
  services.OpenManager("", &manager);
  services.OpenNamedService(manager, "Spooler", svc::kAccessStop, &spooler);
  ServiceStatus status;
  const int calls = 1000000;
  const auto bareStart = Clock::now();
  for (int i = 0; i < calls; ++i) services.QueryStatus(spooler, &status);
  const double perCall = Seconds(Clock::now() - bareStart) / calls;
  SetDebugOutput(nullptr);

  std::printf("boost + restore, %d runs, %zu service operations\n", runs, operations);
  std::printf("  per service operation  %10.0f ns\n", perService * 1e9);
  std::printf("  one bare port call     %10.1f ns\n", perCall * 1e9);
  std::printf("  ratio                  %10.1f   (service operation / port call)\n",
              perService / perCall);
  std::printf("  slept on the clock     %10u ms  (0: nothing waited where nothing was pending)\n",
              clock.slept);

  EngineEvents(window, ports);
  return 0;
}
