#include "search/find_file.h"

#include <exception>

#include "common/wildcard.h"
#include "search/text.h"

namespace kestrava {
namespace {

// Attributes whose fsUnset status also keeps the walk out of folders that carry them: hidden,
// system, device, temporary, offline, encrypted and virtual.
constexpr std::uint32_t kFolderExcludable = attr::kHidden | attr::kSystem | attr::kDevice |
                                            attr::kTemporary | attr::kOffline | attr::kEncrypted |
                                            attr::kVirtual;

bool IsDotFolder(const TFindData& entry) {
  if ((entry.Attributes & attr::kDirectory) == 0) return false;
  const std::string& n = entry.Name;
  return n == "." || n == "..";
}

bool IsOnlyStars(const std::string& mask) {
  return mask.find_first_not_of('*') == std::string::npos;
}

// One open directory enumeration, closed on every path out of the scope.
class Enumeration {
 public:
  Enumeration(DirectoryPort& port, const std::string& pattern, TFindData& data, FindScope scope)
      : port_(port) {
    port_.FindFirst(pattern, data, &handle_, scope);
  }
  ~Enumeration() {
    if (handle_ != DirectoryPort::kInvalid) port_.FindClose(handle_);
  }
  Enumeration(const Enumeration&) = delete;
  Enumeration& operator=(const Enumeration&) = delete;

  bool IsOpen() const { return handle_ != DirectoryPort::kInvalid; }
  bool Next(TFindData& data) { return port_.FindNext(handle_, data) == err::kSuccess; }

 private:
  DirectoryPort& port_;
  DirectoryPort::Handle handle_ = DirectoryPort::kInvalid;  // stays so when FindFirst fails
};

// Raises the walk's depth for one folder and lowers it again on every way out.
class LevelScope {
 public:
  explicit LevelScope(std::atomic<std::uint16_t>& level) : level_(level) { ++level_; }
  ~LevelScope() { --level_; }
  LevelScope(const LevelScope&) = delete;
  LevelScope& operator=(const LevelScope&) = delete;

 private:
  std::atomic<std::uint16_t>& level_;
};

}  // namespace

TFindFile::TFindFile(TComponent* owner, const SearchPorts& ports)
    : TComponent(owner), ports_(ports) {
  window_ = ports_.threads->CreateChannel([this] { SearchEnded(); });
}

TFindFile::~TFindFile() {
  destroying_ = true;
  if (busy_) Abort();
  if (searchThread_ != nullptr) {
    // The walk notices the abort at its next entry. Its handlers may be waiting for this thread
    // (a message sent to one of its windows), so keep serving messages until the thread ends.
    while (!searchThread_->WaitFor(10)) {
      while (ports_.threads->PumpOneMessage()) {
      }
    }
    searchThread_.reset();
  }
  activeCriteria_.reset();
  busy_ = false;
  // Destroying the window discards a "search ended" notice still queued for it.
  window_.reset();
}

void TFindFile::Execute() {
  if (busy_) return;
  // An error of any handler here, OnSearchBegin's included, leaves after EndSearch: the finder is
  // idle again and OnSearchFinish has fired.
  try {
    BeginSearch();
    if (Threaded) {
      searchThread_ = std::make_unique<TSearchThread>(*this);
      return;
    }
    SearchTargets();
  } catch (...) {
    EndSearch();
    throw;
  }
  EndSearch();
}

void TFindFile::Abort() {
  if (!busy_ || aborted_.exchange(true)) return;
  // While this thread pumps below, the end of a threaded search may arrive; it is held back until
  // OnSearchAbort has fired, so that OnSearchFinish still comes last.
  const bool inOwnerThread = window_->InOwnerThread();
  if (inOwnerThread) holdSearchEnd_ = true;
  // Wait until no handler runs on the walking thread, keeping this thread's windows alive; the
  // lock is recursive, so a handler that aborts its own search gets it at once.
  while (!lock_.TryAcquire()) {
    if (!ports_.threads->PumpOneMessage()) ports_.threads->YieldThread();
  }
  std::exception_ptr error;
  try {
    NotifySearchAbort();
  } catch (...) {
    error = std::current_exception();
  }
  lock_.Release();
  if (inOwnerThread) {
    holdSearchEnd_ = false;
    if (searchEndHeld_) {
      searchEndHeld_ = false;
      SearchEnded();
    }
  }
  if (error) std::rethrow_exception(error);
}

void TFindFile::BeginSearch() {
  busy_ = true;
  aborted_ = false;
  activeCriteria_ = std::make_unique<TSearchCriteria>();
  activeCriteria_->Assign(&criteria_);
  folderExcludeMask_ = activeCriteria_->Attributes().UnsetMask & kFolderExcludable;
  NotifySearchBegin();
}

void TFindFile::EndSearch() {
  activeCriteria_.reset();
  currentTarget_ = nullptr;
  busy_ = false;
  NotifySearchFinish();
}

void TFindFile::SearchTargets() {
  TTargetPaths& targets = activeCriteria_->Files().TargetPaths(*ports_.paths);
  for (std::size_t k = 0; k < targets.Count() && !aborted_; ++k) {
    level_ = 0;
    currentTarget_ = &targets.Items(k);
    currentMasks_.clear();
    currentMatchesAll_ = false;
    for (const std::string& mask : currentTarget_->Masks) {
      currentMasks_.push_back(FoldAsciiLower(mask));
      if (IsOnlyStars(mask)) currentMatchesAll_ = true;
    }
    SearchFolder(currentTarget_->Folder);
  }
}

bool TFindFile::NameMatches(const std::string& name) {
  if (currentMatchesAll_) return true;
  foldedName_ = FoldAsciiLower(name);
  for (const std::string& mask : currentMasks_) {
    if (MatchesWildcard(foldedName_, mask)) return true;
  }
  return false;
}

void TFindFile::SearchFolder(const std::string& folder) {
  if (aborted_) return;
  LevelScope levelScope(level_);
  const TTargetPath& target = *currentTarget_;
  const TFolderIgnore ignore = NotifyFolderChange(folder);
  const std::string pattern = folder + "*";
  TFindData entry;

  if ((ignore == fiNone || ignore == fiJustSubfolders) && level_ >= target.MinLevel) {
    Enumeration listing(*ports_.directory, pattern, entry, FindScope::kAllEntries);
    if (listing.IsOpen()) {
      do {
        if (aborted_) return;
        if (IsDotFolder(entry)) continue;
        if (!IsAcceptable(folder, entry)) continue;
        if (NameMatches(entry.Name)) NotifyFileMatch(folder, entry);
      } while (listing.Next(entry));
    }
  }

  if (target.Subfolders && (ignore == fiNone || ignore == fiJustThis) &&
      (target.MaxLevel == 0 || target.MaxLevel > level_)) {
    Enumeration listing(*ports_.directory, pattern, entry, FindScope::kFoldersOnly);
    if (!listing.IsOpen()) return;
    const char separator = ports_.paths->Separator();
    do {
      if (aborted_) return;
      if ((entry.Attributes & attr::kDirectory) != 0 &&
          (entry.Attributes & folderExcludeMask_) == 0 && !IsDotFolder(entry)) {
        SearchFolder(folder + entry.Name + separator);
      }
    } while (listing.Next(entry));
  }
}

bool TFindFile::IsAcceptable(const std::string& folder, const TFindData& entry) {
  return !aborted_ && activeCriteria_->Matches(folder, entry, *ports_.localTime);
}

TFolderIgnore TFindFile::NotifyFolderChange(const std::string& folder) {
  TFolderIgnore ignore = fiNone;
  if (aborted_ || !OnFolderChange) return ignore;
  LockHolder hold(lock_);
  // An abort from another thread may have taken the lock first; its OnSearchAbort is then the
  // last word, and no handler runs after it.
  if (!aborted_) OnFolderChange(*this, folder, ignore);
  return ignore;
}

void TFindFile::NotifyFileMatch(const std::string& folder, const TFindData& entry) {
  if (aborted_ || !OnFileMatch) return;
  LocalTimePort& localTime = *ports_.localTime;
  details_.Folder = folder;
  details_.Name = entry.Name;
  details_.Attributes = entry.Attributes;
  details_.Size = entry.Size();
  details_.CreatedTime = FileTimeToLocalDateTime(entry.CreationTime, localTime);
  details_.ModifiedTime = FileTimeToLocalDateTime(entry.LastWriteTime, localTime);
  details_.AccessedTime = FileTimeToLocalDateTime(entry.LastAccessTime, localTime);
  LockHolder hold(lock_);
  if (!aborted_) OnFileMatch(*this, details_);
}

void TFindFile::NotifySearchBegin() {
  if (OnSearchBegin && !destroying_) OnSearchBegin(*this);
}

void TFindFile::NotifySearchFinish() {
  if (OnSearchFinish && !destroying_) OnSearchFinish(*this);
}

void TFindFile::NotifySearchAbort() {
  if (OnSearchAbort && !destroying_) OnSearchAbort(*this);
}

void TFindFile::SearchEnded() {
  // Only the notice of our own running search counts; one that arrives while the finder is being
  // destroyed is left to the destructor.
  if (destroying_ || searchThread_ == nullptr) return;
  if (holdSearchEnd_) {
    searchEndHeld_ = true;
    return;
  }
  searchThread_.reset();  // waits for the thread, which has posted the notice as its last act
  try {
    EndSearch();  // the last use of the finder here: a handler may destroy it
  } catch (const std::exception& e) {
    ports_.threads->ReportError(e.what());
  } catch (...) {
    ports_.threads->ReportError("Unknown error in OnSearchFinish");
  }
}

TSearchThread::TSearchThread(TFindFile& finder) : finder_(finder) {
  thread_ = finder_.ports_.threads->StartThread([this] { Execute(); }, finder_.ThreadPriority);
}

void TSearchThread::Execute() {
  ThreadPort& threads = *finder_.ports_.threads;
  try {
    finder_.SearchTargets();
  } catch (const std::exception& e) {
    threads.ReportError(e.what());
  } catch (...) {
    threads.ReportError("Unknown error in the search thread");
  }
  finder_.window_->PostSearchEnded();
}

}  // namespace kestrava
