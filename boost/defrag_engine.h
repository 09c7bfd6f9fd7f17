#pragma once
// The folder defragmentation as the boost worker calls it (step 3 of a boost): an engine with its
// events and one operation, and a survey of the folder that moves nothing, for the preview of a
// boost. TFastDefragEngine (defrag/fast_defrag_engine.h) implements it for the program;
// NoDefragEngine, which leaves the folder as it is, serves the worker's tests and benchmark.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kestrava {

// What became of one item of the folder.
enum class DefragItemOutcome {
  kMoved,        // made contiguous
  kContiguous,   // passed over: contiguous already
  kNotOpened,    // passed over: it could not be opened to be examined
  kNoFreeRun,    // passed over: no free run was large enough
  kMovedPartly,  // passed over: the file system moved only a part of it
  kAborted,      // passed over: the run was aborted while it was being moved
  kFailed,       // its move failed (text: why)
};

struct DefragItemReport {
  std::wstring fileName;
  DefragItemOutcome outcome = DefragItemOutcome::kContiguous;
  std::uint64_t clustersMoved = 0;
  std::string text;  // the failure's text; empty for the others
  // The item's fragments (stretches of real clusters apart on the volume, sparse ranges left out,
  // below the end of a file's data) before the engine worked on it and after, as read from the
  // maps the engine reads anyway; the same for an item not moved, 0 for one not examined.
  std::uint64_t fragmentsBefore = 0;
  std::uint64_t fragmentsAfter = 0;
};

// Whether the folder's volume pays for reading far apart; kNone is a solid-state disk, where
// defragmenting brings no speed. kUnknown where Windows cannot say (before Windows 7).
enum class SeekPenalty { kUnknown, kNone, kIncurs };

// What a survey of a folder found.
struct FolderSurvey {
  std::uint64_t items = 0;               // every item a folder run would examine
  std::uint64_t fragmented = 0;          // those it would move
  std::uint64_t fragmentedClusters = 0;  // the clusters these occupy
  std::uint64_t freeClusters = 0;        // on the folder's volume
  std::uint64_t largestFreeRun = 0;      // clusters
  SeekPenalty seekPenalty = SeekPenalty::kUnknown;
};

class DefragEngine {
 public:
  // Called for each item the engine is working on; setting abort stops the run.
  using TProgressEvent =
      std::function<void(DefragEngine& sender, bool& abort, const std::wstring& fileName)>;
  // Called for each item the engine passes over.
  using TSkipFileEvent = std::function<void(DefragEngine& sender, const std::wstring& fileName,
                                            bool& abort, bool isFile, std::int64_t size)>;

  virtual ~DefragEngine() = default;

  // Makes every item under folder contiguous. Raises KestravaError when the folder's volume
  // cannot be opened or its cluster size read.
  virtual bool DefragFolder(const std::string& folder, bool filesOnly) = 0;

  // Looks at folder as DefragFolder would and moves nothing: the volume's free space, then each
  // item's contiguity and, for a fragmented one, its clusters. OnProgress fires for each item and
  // its abort ends the survey with what was counted so far. False when the engine cannot survey
  // (this default) or the free space could not be read; raises as DefragFolder does.
  virtual bool SurveyFolder(const std::string& /*folder*/, bool /*filesOnly*/,
                            FolderSurvey& /*survey*/) {
    return false;
  }

  TProgressEvent OnProgress;
  TSkipFileEvent OnSkipFile;

  // Called once for each item of the folder when the engine is done with it, after its other
  // events, with what became of it.
  using TItemDoneEvent = std::function<void(DefragEngine& sender, const DefragItemReport& report)>;
  TItemDoneEvent OnItemDone;
};

// Makes the engine of one boost.
using DefragEngineFactory = std::function<std::unique_ptr<DefragEngine>()>;

// An engine that defragments nothing.
std::unique_ptr<DefragEngine> NoDefragEngine();

}  // namespace kestrava
