#include "app/startup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrava {
namespace {

// Records the start-up's calls in order.
class RecordingStartup final : public StartupPort {
 public:
  Window running = 0;
  MutexResult mutex = MutexResult::Created;
  std::vector<std::string> calls;

  Window FindRunningInstance() override {
    calls.push_back("find");
    return running;
  }
  void PostWakeUp(Window window) override { calls.push_back("post " + std::to_string(window)); }
  MutexResult CreateInstanceMutex() override {
    calls.push_back("mutex");
    return mutex;
  }
  void RunApplication(bool showMainWindow) override {
    calls.push_back(showMainWindow ? "run shown" : "run hidden");
  }
};

using Calls = std::vector<std::string>;

TEST(Startup, FirstInstanceTakesTheMutexAndShowsItsWindow) {
  RecordingStartup port;
  EXPECT_EQ(RunStartup(port, {}), 0);
  EXPECT_EQ(port.calls, (Calls{"find", "mutex", "run shown"}));
}

TEST(Startup, SecondStartWakesTheRunningInstanceOnceAndEnds) {
  RecordingStartup port;
  port.running = 0x1234;
  EXPECT_EQ(RunStartup(port, {"C:\\some file.txt"}), 0);
  EXPECT_EQ(port.calls, (Calls{"find", "post 4660"}));
}

TEST(Startup, SecondStartWithTheSwitchEndsWithoutAWord) {
  RecordingStartup port;
  port.running = 0x1234;
  EXPECT_EQ(RunStartup(port, {"/autorun"}), 0);
  EXPECT_EQ(port.calls, (Calls{"find"}));
}

TEST(Startup, InstanceStillWithoutAWindowTurnsALaterStartAway) {
  RecordingStartup port;
  port.mutex = MutexResult::AlreadyExists;
  EXPECT_EQ(RunStartup(port, {}), 0);
  EXPECT_EQ(port.calls, (Calls{"find", "mutex"}));
}

TEST(Startup, MutexThatCannotBeCreatedDoesNotStopTheProgram) {
  RecordingStartup port;
  port.mutex = MutexResult::Failed;
  EXPECT_EQ(RunStartup(port, {}), 0);
  EXPECT_EQ(port.calls, (Calls{"find", "mutex", "run shown"}));
}

TEST(Startup, TheSwitchKeepsTheWindowHiddenButABareWordDoesNot) {
  RecordingStartup hidden;
  RunStartup(hidden, {"x", "-AutoRun"});
  EXPECT_EQ(hidden.calls.back(), "run hidden");

  RecordingStartup shown;
  RunStartup(shown, {"autorun"});
  EXPECT_EQ(shown.calls.back(), "run shown");
}

}  // namespace
}  // namespace kestrava
