#pragma once
// What the last boost or restore of this process did, kept in memory only: each service it tried
// and what became of it, memory before and after the trim, the defragmentation's tally, and how
// the run ended. The worker fills it from the outcomes it decides as it goes; the window keeps the
// last one and shows it as a table.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "boost/defrag_engine.h"
#include "boost/report_table.h"
#include "boost/service_control.h"
#include "common/recursive_lock.h"

namespace kestrava {

// One service the run tried, in the order it tried them.
struct ServiceReceipt {
  std::string name;  // the service's key name
  ServiceResult result;
};

// Physical memory and the working sets at one moment.
struct MemoryReading {
  bool availableKnown = false;
  std::uint64_t availableBytes = 0;  // available physical memory
  bool workingSetsKnown = false;
  std::uint32_t processes = 0;        // the processes whose working sets were summed
  std::uint64_t workingSetBytes = 0;  // their sum
};

// One item the defragmentation could not make contiguous, and why.
struct DefragFailure {
  std::string path;
  DefragItemOutcome outcome = DefragItemOutcome::kFailed;
  std::string text;
};

// The defragmentation of the game folder, item by item as the engine reported them.
struct DefragTally {
  std::uint64_t examined = 0;
  std::uint64_t moved = 0;          // items made contiguous by a move
  std::uint64_t clustersMoved = 0;  // by every item, those moved only partly included
  // The fragments of every item examined, before the run and after it: what the run removed.
  std::uint64_t fragmentsBefore = 0;
  std::uint64_t fragmentsAfter = 0;
  // Items passed over, by reason.
  std::uint64_t contiguous = 0;
  std::uint64_t notOpened = 0;
  std::uint64_t noFreeRun = 0;
  std::uint64_t movedPartly = 0;
  std::uint64_t aborted = 0;
  std::vector<DefragFailure> failures;  // each failure with its text, in the order they came
  bool freeSpaceRead = true;            // false: the engine could not read the volume's free space

  // Counts one item the engine is done with.
  void Add(const DefragItemReport& report);
};

struct BoostReceipt {
  bool boost = true;  // false: a restore
  std::vector<ServiceReceipt> services;
  bool trimmed = false;  // "Defrag the memory" was ticked: before and after say what it did
  MemoryReading beforeTrim;
  MemoryReading afterTrim;
  std::uint32_t trimEndedAt = 0;  // the clock's milliseconds when the trim was over
  bool defragmented = false;      // the game folder was handed to the engine
  std::string gameFolder;
  DefragTally defrag;
  bool endedEarly = false;
  std::string reason;  // why it ended early: the text of the error that ended it
  // A restore whose record could not be deleted: its names are still there, so the mode stays
  // on. The system's text for why.
  bool recordKept = false;
  std::string recordKeptText;
  // Values of the record a restore did not take as names: beyond the read's bound, too long or
  // unreadable. Someone else put them there; they are not started, and the clear removes them.
  std::uint32_t recordPassedOver = 0;
};

// The receipt as the user reads it.
ReportTable ReceiptTable(const BoostReceipt& receipt);

// The memory that came back: when the details are opened after a boost that trimmed, the
// readings as of that moment (now, taken at nowMs on the clock that stamped trimEndedAt) follow
// those right after the trim, so that a gain that flowed back in seconds shows. The receipt itself
// stays as the worker left it.
ReportTable ReceiptTable(const BoostReceipt& receipt, const MemoryReading& now,
                         std::uint32_t nowMs);

// The one line status panel 0 shows after a run that ended early ("Boost ended early: " and the
// reason) or a restore that could not delete the record ("The record could not be cleared: " and
// the system's text), line breaks made single spaces; empty after a run that completed.
std::string AfterRunLine(const BoostReceipt& receipt);

// Where the worker leaves its receipt and the window takes the last one. The worker puts it from
// its own thread when the run is over; the window may look at any time, during a run too.
class ReceiptSlot {
 public:
  void Put(std::shared_ptr<const BoostReceipt> receipt);
  // The last receipt put; nullptr before the first run.
  std::shared_ptr<const BoostReceipt> Get();

 private:
  RecursiveLock lock_;
  std::shared_ptr<const BoostReceipt> receipt_;
};

}  // namespace kestrava
