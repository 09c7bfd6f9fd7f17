#pragma once
// The folder defragmentation as the boost worker calls it (step 3 of a boost): an engine with two
// events and one operation. TFastDefragEngine (defrag/fast_defrag_engine.h) implements it for the
// program; NoDefragEngine, which leaves the folder as it is, serves the worker's tests and
// benchmark.
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
