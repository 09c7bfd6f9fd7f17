#pragma once
// TFindFile walks one or more folder trees depth-first and reports every entry that passes its
// criteria through OnFileMatch: in the caller's thread, or on a search thread of its own whose end
// is brought back to the thread that created the finder.
//
// How a threaded search ends: Execute starts a TSearchThread and returns. The thread walks the
// targets, calling OnFolderChange and OnFileMatch on itself under Lock, and as its very last act
// posts the "search ended" notice to the finder's hidden window (message 1025 on Windows). The
// creating thread handles that notice in its message loop: it waits for the thread to end, frees
// the search's criteria copy and fires OnSearchFinish. So EndSearch always runs in the creating
// thread, which must keep pumping messages for a threaded search to finish.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/recursive_lock.h"
#include "search/criteria.h"
#include "search/search_ports.h"

namespace kestrava {

class TSearchThread;

enum TFolderIgnore : std::uint8_t {
  fiNone = 0,               // entries reported, subfolders walked
  fiJustThis = 1,           // entries skipped, subfolders walked
  fiJustSubfolders = 2,     // entries reported, subfolders skipped
  fiThisAndSubfolders = 3,  // both skipped
};

// What OnFileMatch receives; valid only during the call.
struct TFileDetails {
  std::string Folder;  // full path of the entry's folder, ending in the separator
  std::string Name;    // the entry's name as the enumeration returned it
  std::uint32_t Attributes = 0;
  std::int64_t Size = 0;
  TDateTime CreatedTime = 0;   // local
  TDateTime ModifiedTime = 0;  // local
  TDateTime AccessedTime = 0;  // local
};

// The small component base a finder derives from. The owner is recorded, not managed.
class TComponent {
 public:
  explicit TComponent(TComponent* owner) : owner_(owner) {}
  virtual ~TComponent() = default;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;
  TComponent* Owner() const { return owner_; }

  std::string Name;
  std::intptr_t Tag = 0;

 private:
  TComponent* owner_;
};

class TFindFile : public TComponent {
 public:
  using TFileMatchEvent = std::function<void(TFindFile& sender, const TFileDetails& fileInfo)>;
  using TFolderChangeEvent = std::function<void(TFindFile& sender, const std::string& folder,
                                                TFolderIgnore& ignoreFolder)>;
  using TNotifyEvent = std::function<void(TFindFile& sender)>;

  // Creates the lock, the hidden window (in the calling thread, which then owns the finder) and
  // the criteria with their defaults.
  explicit TFindFile(TComponent* owner = nullptr, const SearchPorts& ports = SearchPorts());
  // Aborts a running search and waits for its thread before anything is freed; fires no events.
  // Must run in the thread that created the finder.
  ~TFindFile() override;

  // Properties, in their published order.
  TSearchCriteria& Criteria() { return criteria_; }
  const TSearchCriteria& Criteria() const { return criteria_; }
  void SetCriteria(const TSearchCriteria& value) { criteria_.Assign(&value); }
  std::int32_t Data = 0;
  bool Threaded = false;
  TThreadPriority ThreadPriority = tpNormal;
  TFileMatchEvent OnFileMatch;
  TFolderChangeEvent OnFolderChange;
  TNotifyEvent OnSearchBegin;
  TNotifyEvent OnSearchFinish;
  TNotifyEvent OnSearchAbort;

  // Runs one search with a copy of the current criteria. Does nothing while a search is busy. An
  // error raised by a handler in the caller's thread leaves Execute after OnSearchFinish.
  void Execute();
  // Asks the running search to stop. From another thread it waits until no OnFileMatch or
  // OnFolderChange handler runs (pumping the calling thread's messages meanwhile), then fires
  // OnSearchAbort. Does nothing when no search runs or the search is already aborted.
  void Abort();

  bool Busy() const { return busy_; }
  bool Aborted() const { return aborted_; }
  std::uint16_t Level() const { return level_; }

 protected:
  virtual void NotifySearchBegin();
  virtual void NotifySearchFinish();
  virtual void NotifySearchAbort();
  virtual TFolderIgnore NotifyFolderChange(const std::string& folder);
  virtual void NotifyFileMatch(const std::string& folder, const TFindData& entry);
  virtual bool IsAcceptable(const std::string& folder, const TFindData& entry);

  const TSearchCriteria* ActiveCriteria() const { return activeCriteria_.get(); }
  std::uint32_t FolderExcludeMask() const { return folderExcludeMask_; }

 private:
  friend class TSearchThread;

  void BeginSearch();
  void EndSearch();
  void SearchTargets();
  void SearchFolder(const std::string& folder);
  bool NameMatches(const std::string& name);
  void SearchEnded();  // the hidden window's handler of the "search ended" notice

  SearchPorts ports_;
  TSearchCriteria criteria_;
  std::unique_ptr<TSearchCriteria> activeCriteria_;
  const TTargetPath* currentTarget_ = nullptr;
  std::vector<std::string> currentMasks_;  // the target's masks folded to lower case
  bool currentMatchesAll_ = false;         // one of them is only "*"s
  std::uint32_t folderExcludeMask_ = 0;
  std::atomic<bool> busy_{false};
  std::atomic<bool> aborted_{false};
  std::atomic<std::uint16_t> level_{0};
  bool destroying_ = false;
  bool holdSearchEnd_ = false;  // an Abort in the creating thread is pumping messages
  bool searchEndHeld_ = false;  // the end notice arrived meanwhile
  RecursiveLock lock_;
  std::unique_ptr<TSearchThread> searchThread_;
  std::unique_ptr<OwnerChannel> window_;
  // Scratch buffers of the walk, reused from entry to entry.
  TFileDetails details_;
  std::string foldedName_;
};

// The search thread: runs the finder's walk, shows an error that escapes it, and finally posts the
// "search ended" notice to the finder's window. Holds the finder without owning it.
class TSearchThread {
 public:
  // Starts the thread at the finder's ThreadPriority; throws KestravaError when it cannot.
  explicit TSearchThread(TFindFile& finder);
  // Waits for the thread to end.
  ~TSearchThread() = default;
  TSearchThread(const TSearchThread&) = delete;
  TSearchThread& operator=(const TSearchThread&) = delete;

  bool WaitFor(std::uint32_t milliseconds) { return thread_->WaitFor(milliseconds); }

 private:
  void Execute();

  TFindFile& finder_;
  std::unique_ptr<WorkerThread> thread_;
};

}  // namespace kestrava
