// The receipt as the user reads it: the rows of each section, the defragmentation's tally item by
// item, and the one line an early end leaves in the status bar.
#include "boost/receipt.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrava {
namespace {

using Row = std::vector<std::string>;

TEST(Receipt, ATableRowForEverythingTheRunDid) {
  BoostReceipt receipt;
  receipt.trimmed = true;
  receipt.beforeTrim = {true, 512u << 20, true, 3, 3u << 20};
  receipt.afterTrim = {true, 768u << 20, false, 0, 0};
  receipt.defragmented = true;
  receipt.gameFolder = "D:\\Games\\Foo";
  using O = DefragItemOutcome;
  for (const DefragItemReport& item : std::vector<DefragItemReport>{
           {L"D:\\a", O::kMoved, 6, "", 5, 1},
           {L"D:\\b", O::kContiguous, 0, "", 1, 1},
           {L"D:\\c", O::kNotOpened, 0, ""},
           {L"D:\\d", O::kNoFreeRun, 0, "Fail to get the free space!", 3, 3},
           {L"D:\\e", O::kMovedPartly, 4, "Moved only partly: D:\\e", 4, 2},
           {L"D:\\f", O::kAborted, 0, ""},
           {L"D:\\g", O::kFailed, 2, "Move file D:\\g error: 5", 2, 2},
       }) {
    receipt.defrag.Add(item);
  }
  receipt.services = {{"Spooler", {ServiceOutcome::kStopped, ""}},
                      {"StiSvc", {ServiceOutcome::kRefused, "Access is denied"}}};

  const ReportTable table = ReceiptTable(receipt);
  EXPECT_EQ(table.columns, (Row{"Section", "Item", "Outcome", "Details"}));
  const std::vector<Row> expected = {
      {"Run", "Boost", "completed", ""},
      {"Memory", "Available physical memory before the trim", "512.0 MB"},
      {"Memory", "Sum of working sets before the trim", "3.0 MB", "3 processes"},
      {"Memory", "Available physical memory after the trim", "768.0 MB"},
      {"Memory", "Sum of working sets after the trim", "not known"},
      {"Game folder", "Items examined", "7"},
      {"Game folder", "Items moved", "1"},
      {"Game folder", "Clusters moved", "12"},
      {"Game folder", "Fragments before the run", "15"},
      {"Game folder", "Fragments after the run", "9"},
      {"Game folder", "Passed over: contiguous", "1"},
      {"Game folder", "Passed over: could not be opened", "1"},
      {"Game folder", "Passed over: no free run", "1"},
      {"Game folder", "Passed over: moved only partly", "1"},
      {"Game folder", "Passed over: aborted", "1"},
      {"Game folder", "D:\\d", "no free run", "Fail to get the free space!"},
      {"Game folder", "D:\\e", "moved only partly", "Moved only partly: D:\\e"},
      {"Game folder", "D:\\g", "failed", "Move file D:\\g error: 5"},
      {"Services", "Spooler", "stopped", ""},
      {"Services", "StiSvc", "refused", "Access is denied"},
  };
  EXPECT_EQ(table.rows, expected);

  // A restore that ended early with nothing to start: no memory or folder rows.
  BoostReceipt restore;
  restore.boost = false;
  restore.endedEarly = true;
  restore.reason = "Out of memory";
  EXPECT_EQ(ReceiptTable(restore).rows,
            (std::vector<Row>{{"Run", "Restore", "ended early", "Out of memory"}}));
}

// Every outcome of a service as the user reads it. A restore's failed start says where its name is
// left: deleted with the record, or still in a record that could not be deleted.
TEST(Receipt, EveryServiceOutcomeInItsWords) {
  using O = ServiceOutcome;
  struct Case {
    O outcome;
    bool recordKept;
    const char* text;
  };
  for (const Case& c : {
           Case{O::kNotTried, false, "not tried"},
           Case{O::kStopped, false, "stopped"},
           Case{O::kAlreadyStopped, false, "already stopped"},
           Case{O::kRefused, false, "refused"},
           Case{O::kNotInstalled, false, "not installed"},
           Case{O::kStoppedLate, false, "stopped late, recorded all the same"},
           Case{O::kNotStopped, false, "still running when the wait ended, recorded all the same"},
           Case{O::kNotRecorded, false, "not stopped: the record could not be written"},
           Case{O::kStarted, false, "started"},
           Case{O::kAlreadyRunning, false, "already running"},
           Case{O::kStartAccepted, false, "start accepted, not running yet when the wait ended"},
           Case{O::kFailedToStart, false, "failed to start, no longer in the record"},
           Case{O::kFailedToStart, true, "failed to start, still in the record"},
           Case{O::kNotInCatalogue, false, "not started: not a service this program stops"},
       }) {
    SCOPED_TRACE(c.text);
    BoostReceipt receipt;
    receipt.recordKept = c.recordKept;
    receipt.services = {{"Spooler", {c.outcome, "why"}}};
    EXPECT_EQ(ReceiptTable(receipt).rows.back(), (Row{"Services", "Spooler", c.text, "why"}));
  }
}

TEST(Receipt, AnEarlyEndOrAKeptRecordIsOneLineInThePanel) {
  BoostReceipt receipt;
  EXPECT_EQ(AfterRunLine(receipt), "");
  receipt.endedEarly = true;
  receipt.reason = "CreateFile \\\\.\\Q:\r\nThe system cannot\nfind\rit";
  EXPECT_EQ(AfterRunLine(receipt),
            "Boost ended early: CreateFile \\\\.\\Q: The system cannot find it");

  BoostReceipt restore;
  restore.boost = false;
  restore.recordKept = true;
  restore.recordKeptText = "Access is\r\ndenied";
  EXPECT_EQ(AfterRunLine(restore), "The record could not be cleared: Access is denied");
}

}  // namespace
}  // namespace kestrava
