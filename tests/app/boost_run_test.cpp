#include "app/boost_run.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrava {
namespace {

using Calls = std::vector<std::string>;

// A window whose message processing plays a scripted run: the worker "finishes" after a number
// of turns, and user actions can be injected at given turns.
class ScriptedHost final : public BoostRunHost {
 public:
  explicit ScriptedHost(std::atomic<bool>& finished) : finished_(finished) {}

  bool mode = false;
  bool workerStarts = true;
  int finishAfterTurns = 3;  // the worker sets the flag during this turn; <0: never
  int terminateAtTurn = -1;
  std::function<void(int turn)> onTurn;  // user actions during the waiting loop
  Calls calls;
  int turns = 0;
  bool destroyed = false;
  ReceiptSlot* receipts = nullptr;  // where the worker leaves receipt as it finishes
  std::shared_ptr<const BoostReceipt> receipt;

  void EnableBoostAction(bool enabled) override { calls.push_back(enabled ? "enable" : "disable"); }
  void ShowBoostMode() override { calls.push_back(mode ? "show on" : "show off"); }
  void ShowEndedEarly(const std::string& line) override { calls.push_back(line); }
  bool ReadBoostMode() override { return mode; }
  bool StartWorker(bool boost) override {
    calls.push_back(std::string(boost ? "start boost" : "start restore") +
                    (finished_.load() ? " (finished still set)" : ""));
    return workerStarts;
  }
  void PauseAndProcessMessages() override {
    const int turn = ++turns;
    if (turn == finishAfterTurns) {
      if (receipts != nullptr && receipt != nullptr) receipts->Put(receipt);
      finished_.store(true);
      mode = !mode;
    }
    if (turn == terminateAtTurn) terminated_ = true;
    if (onTurn) onTurn(turn);
    ASSERT_LT(turns, 1000) << "the waiting loop does not end";
  }
  bool Terminated() override { return terminated_; }
  void DestroyForm() override {
    calls.push_back("destroy");
    EXPECT_FALSE(destroyed) << "destroyed twice";
    destroyed = true;
  }

 private:
  std::atomic<bool>& finished_;
  bool terminated_ = false;
};

class BoostRunTest : public ::testing::Test {
 protected:
  std::atomic<bool> finished{true};  // left set by an earlier run
  ScriptedHost host{finished};
  BoostRun run{host, finished};
  BoostRunTest() { host.receipts = &run.Receipts(); }
};

TEST_F(BoostRunTest, PressBoostsWhenOffRestoresWhenOnAndShowsTheNewMode) {
  run.Execute();
  EXPECT_EQ(host.calls, (Calls{"disable", "start boost", "enable", "show on"}));
  EXPECT_EQ(host.turns, 3);
  EXPECT_FALSE(run.WorkerRunning());

  host.calls.clear();
  host.turns = 0;
  run.Execute();
  EXPECT_EQ(host.calls, (Calls{"disable", "start restore", "enable", "show off"}));
}

// Panel 0 says why a run ended early, over the mode's text; after a run that completed, or one
// still at work when the application ends, the mode's text stays.
TEST_F(BoostRunTest, ARunThatEndedEarlySaysWhyInPanelZero) {
  host.receipt = std::make_shared<BoostReceipt>();
  run.Execute();
  EXPECT_EQ(host.calls, (Calls{"disable", "start boost", "enable", "show on"}));

  auto early = std::make_shared<BoostReceipt>();
  early->endedEarly = true;
  early->reason = "CreateFile \\\\.\\Q:\r\nThe system cannot find the file specified";
  host.receipt = early;
  host.calls.clear();
  host.turns = 0;
  run.Execute();
  EXPECT_EQ(host.calls, (Calls{"disable", "start restore", "enable", "show off",
                               "Boost ended early: CreateFile \\\\.\\Q: The system cannot find the "
                               "file specified"}));
  EXPECT_EQ(run.LastReceipt(), early);

  // The application ends while a worker is at work: the slot still holds the run before.
  host.calls.clear();
  host.turns = 0;
  host.finishAfterTurns = -1;
  host.terminateAtTurn = 1;
  run.Execute();
  EXPECT_EQ(host.calls.back(), "show off");
}

// A restore that could not delete the record says so in panel 0, over the mode's text.
TEST_F(BoostRunTest, ARestoreThatKeptTheRecordSaysSoInPanelZero) {
  auto kept = std::make_shared<BoostReceipt>();
  kept->boost = false;
  kept->recordKept = true;
  kept->recordKeptText = "Access is\r\ndenied";
  host.receipt = kept;
  host.mode = true;
  // The record still holds its names: the mode stays on.
  host.onTurn = [&](int turn) {
    if (turn == host.finishAfterTurns) host.mode = true;
  };
  run.Execute();
  EXPECT_EQ(host.calls, (Calls{"disable", "start restore", "enable", "show on",
                               "The record could not be cleared: Access is denied"}));
}

TEST_F(BoostRunTest, WorkerIsRunningExactlyWhileTheLoopWaits) {
  std::vector<bool> seen;
  host.onTurn = [&](int) { seen.push_back(run.WorkerRunning()); };
  EXPECT_FALSE(run.WorkerRunning());
  run.Execute();
  EXPECT_EQ(seen, (std::vector<bool>{true, true, true}));
  EXPECT_FALSE(run.WorkerRunning());
}

TEST_F(BoostRunTest, WorkerThatCannotStartLeavesTheWindowUsable) {
  host.workerStarts = false;
  run.Execute();
  EXPECT_EQ(host.calls, (Calls{"disable", "start boost", "enable", "show off"}));
  EXPECT_EQ(host.turns, 0);
  run.RequestClose();
  EXPECT_TRUE(host.destroyed);
}

TEST_F(BoostRunTest, SecondPressDuringARunStartsNoSecondWorker) {
  host.onTurn = [&](int turn) {
    if (turn == 1) run.Execute();
  };
  run.Execute();
  EXPECT_EQ(host.calls, (Calls{"disable", "start boost", "enable", "show on"}));
}

TEST_F(BoostRunTest, TerminationEndsTheWait) {
  host.finishAfterTurns = -1;
  host.terminateAtTurn = 2;
  run.Execute();
  EXPECT_EQ(host.turns, 2);
  EXPECT_EQ(host.calls.back(), "show off");
}

TEST_F(BoostRunTest, CloseWhenIdleClosesAtOnce) {
  run.RequestClose();
  EXPECT_EQ(host.calls, (Calls{"destroy"}));
  EXPECT_FALSE(run.SysAbort());
}

TEST_F(BoostRunTest, CloseDuringARunAbortsWaitsAndClosesAfterTheRunEnds) {
  host.finishAfterTurns = 5;
  host.onTurn = [&](int turn) {
    if (turn == 2) {
      run.RequestClose();
      // The nested wait returns only once the worker has finished.
      EXPECT_TRUE(finished.load());
      EXPECT_FALSE(host.destroyed);
    }
    if (turn == 3) run.RequestClose();  // a second close box click while waiting
  };
  run.Execute();
  EXPECT_TRUE(run.SysAbort());
  EXPECT_EQ(host.turns, 5);
  EXPECT_EQ(host.calls, (Calls{"disable", "start boost", "enable", "show on", "destroy"}));
}

TEST_F(BoostRunTest, WorkerLeftRunningByTerminationIsAbortedAndAwaitedBeforeExit) {
  host.finishAfterTurns = 6;
  host.terminateAtTurn = 2;
  run.Execute();
  EXPECT_EQ(host.turns, 2);
  EXPECT_FALSE(run.SysAbort());
  run.WaitBeforeExit();
  EXPECT_TRUE(run.SysAbort());
  EXPECT_TRUE(finished.load());
  EXPECT_EQ(host.turns, 6);
}

TEST_F(BoostRunTest, NothingToAwaitBeforeExitWithoutAWorker) {
  finished = false;  // as at program start
  run.WaitBeforeExit();
  EXPECT_EQ(host.turns, 0);
  EXPECT_FALSE(run.SysAbort());

  host.workerStarts = false;
  run.Execute();  // clears the flag but starts nothing
  run.WaitBeforeExit();
  EXPECT_EQ(host.turns, 0);
}

TEST_F(BoostRunTest, AWorkerThatCannotStartLeavesNothingToWaitForAtExit) {
  run.Execute();  // an earlier press whose worker ran
  host.workerStarts = false;
  run.Execute();
  EXPECT_EQ(host.calls.back(), "show on");
  // The process must end: a wait for a worker that never started would keep it, hidden, for ever.
  host.onTurn = [](int turn) {
    if (turn > 100) throw std::runtime_error("waits for a worker that never started");
  };
  EXPECT_NO_THROW(run.WaitBeforeExit());
}

}  // namespace
}  // namespace kestrava
