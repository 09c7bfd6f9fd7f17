#include "boost/receipt.h"

#include <cstdio>

#include "common/wide.h"

namespace kestrava {
namespace {

// What became of a service as the user reads it. A restore's failures say where the name is left:
// the restore deletes the record at its end, unless that failed.
const char* OutcomeText(ServiceOutcome outcome, bool recordKept) {
  switch (outcome) {
    case ServiceOutcome::kNotTried: return "not tried";
    case ServiceOutcome::kStopped: return "stopped";
    case ServiceOutcome::kAlreadyStopped: return "already stopped";
    case ServiceOutcome::kRefused: return "refused";
    case ServiceOutcome::kNotInstalled: return "not installed";
    case ServiceOutcome::kStoppedLate: return "stopped late, recorded all the same";
    case ServiceOutcome::kNotStopped:
      return "still running when the wait ended, recorded all the same";
    case ServiceOutcome::kNotRecorded: return "not stopped: the record could not be written";
    case ServiceOutcome::kStarted: return "started";
    case ServiceOutcome::kAlreadyRunning: return "already running";
    case ServiceOutcome::kStartAccepted:
      return "start accepted, not running yet when the wait ended";
    case ServiceOutcome::kFailedToStart:
      return recordKept ? "failed to start, still in the record"
                        : "failed to start, no longer in the record";
    case ServiceOutcome::kNotInCatalogue: return "not started: not a service this program stops";
  }
  return "";
}

// What an item the engine logged a failure for came to.
const char* FailureText(DefragItemOutcome outcome) {
  switch (outcome) {
    case DefragItemOutcome::kNoFreeRun: return "no free run";
    case DefragItemOutcome::kMovedPartly: return "moved only partly";
    default: return "failed";
  }
}

// Bytes as Task Manager's megabytes, to a tenth.
std::string Megabytes(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
}

void AddMemoryRows(ReportTable& table, const MemoryReading& reading, const char* when) {
  table.Add({"Memory", std::string("Available physical memory ") + when,
             reading.availableKnown ? Megabytes(reading.availableBytes) : "not known"});
  if (reading.workingSetsKnown) {
    table.Add({"Memory", std::string("Sum of working sets ") + when,
               Megabytes(reading.workingSetBytes),
               std::to_string(reading.processes) + " processes"});
  } else {
    table.Add({"Memory", std::string("Sum of working sets ") + when, "not known"});
  }
}

void AddDefragRows(ReportTable& table, const BoostReceipt& receipt) {
  const DefragTally& tally = receipt.defrag;
  if (!tally.freeSpaceRead) {
    table.Add({"Game folder", receipt.gameFolder, "not defragmented",
               "the volume's free space could not be read"});
  }
  const auto count = [&](const char* what, std::uint64_t value) {
    table.Add({"Game folder", what, std::to_string(value)});
  };
  count("Items examined", tally.examined);
  count("Items moved", tally.moved);
  count("Clusters moved", tally.clustersMoved);
  count("Fragments before the run", tally.fragmentsBefore);
  count("Fragments after the run", tally.fragmentsAfter);
  count("Passed over: contiguous", tally.contiguous);
  count("Passed over: could not be opened", tally.notOpened);
  count("Passed over: no free run", tally.noFreeRun);
  count("Passed over: moved only partly", tally.movedPartly);
  count("Passed over: aborted", tally.aborted);
  for (const DefragFailure& failure : tally.failures) {
    table.Add({"Game folder", failure.path, FailureText(failure.outcome), failure.text});
  }
}

}  // namespace

void DefragTally::Add(const DefragItemReport& report) {
  ++examined;
  clustersMoved += report.clustersMoved;
  fragmentsBefore += report.fragmentsBefore;
  fragmentsAfter += report.fragmentsAfter;
  switch (report.outcome) {
    case DefragItemOutcome::kMoved: ++moved; break;
    case DefragItemOutcome::kContiguous: ++contiguous; break;
    case DefragItemOutcome::kNotOpened: ++notOpened; break;
    case DefragItemOutcome::kNoFreeRun: ++noFreeRun; break;
    case DefragItemOutcome::kMovedPartly: ++movedPartly; break;
    case DefragItemOutcome::kAborted: ++aborted; break;
    case DefragItemOutcome::kFailed: break;
  }
  if (!report.text.empty()) {
    failures.push_back({WideToAnsi(report.fileName), report.outcome, report.text});
  }
}

ReportTable ReceiptTable(const BoostReceipt& receipt) {
  ReportTable table;
  table.columns = {"Section", "Item", "Outcome", "Details"};
  if (receipt.endedEarly) {
    table.Add({"Run", receipt.boost ? "Boost" : "Restore", "ended early", receipt.reason});
  } else if (receipt.recordKept) {
    table.Add({"Run", "Restore", "the record could not be cleared", receipt.recordKeptText});
  } else {
    table.Add({"Run", receipt.boost ? "Boost" : "Restore", "completed", ""});
  }
  if (receipt.trimmed) {
    AddMemoryRows(table, receipt.beforeTrim, "before the trim");
    AddMemoryRows(table, receipt.afterTrim, "after the trim");
  }
  if (receipt.defragmented) AddDefragRows(table, receipt);
  for (const ServiceReceipt& service : receipt.services) {
    table.Add({"Services", service.name, OutcomeText(service.result.outcome, receipt.recordKept),
               service.result.text});
  }
  if (receipt.recordPassedOver != 0) {
    table.Add({"Services", "", "passed over: not read from the record",
               "values not read: " + std::to_string(receipt.recordPassedOver) +
                   " (a restore reads at most 256 names of at most 256 characters)"});
  }
  if (receipt.services.empty() && !receipt.endedEarly) {
    table.Add({"Services", "", receipt.boost ? "none tried" : "none recorded"});
  }
  return table;
}

ReportTable ReceiptTable(const BoostReceipt& receipt, const MemoryReading& now,
                         std::uint32_t nowMs) {
  ReportTable table = ReceiptTable(receipt);
  if (!receipt.boost || !receipt.trimmed) return table;
  ReportTable rows;
  AddMemoryRows(rows, now, "now");
  // Whole seconds, the nearest; the difference is right across the clock's wrap.
  const std::uint32_t seconds = (nowMs - receipt.trimEndedAt + 500) / 1000;
  rows.rows.front()[1] += " (" + std::to_string(seconds) + " s after the trim)";
  // Beside the readings right after the trim: after the last memory row.
  auto at = table.rows.end();
  for (auto it = table.rows.begin(); it != table.rows.end(); ++it) {
    if (!it->empty() && (*it)[0] == "Memory") at = it + 1;
  }
  table.rows.insert(at, rows.rows.begin(), rows.rows.end());
  return table;
}

std::string AfterRunLine(const BoostReceipt& receipt) {
  if (receipt.endedEarly) return "Boost ended early: " + OneLine(receipt.reason);
  if (receipt.recordKept)
    return "The record could not be cleared: " + OneLine(receipt.recordKeptText);
  return "";
}

void ReceiptSlot::Put(std::shared_ptr<const BoostReceipt> receipt) {
  {
    const LockHolder hold(lock_);
    receipt_.swap(receipt);
  }
  // The previous receipt, if nobody else holds it, goes here, outside the lock.
}

std::shared_ptr<const BoostReceipt> ReceiptSlot::Get() {
  const LockHolder hold(lock_);
  return receipt_;
}

}  // namespace kestrava
