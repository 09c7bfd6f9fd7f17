#pragma once
// A report made off the window thread: the preview of a boost looks at every service, every
// process and the game folder's items, which takes long enough that the window must go on
// answering meanwhile. The work runs on a Thread of its own; its progress lines and its table come
// back to the window thread through a HandOff made there, and Cancel sets the flag the work reads.
//
// The window owns the job. Destroying it (the window closes) cancels the work, drops whatever it
// had handed over and not yet shown, and waits for the thread, which by then only has to reach its
// next step: after the destructor nothing of the window is ever touched again.
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "boost/report_table.h"
#include "common/hand_off.h"
#include "common/recursive_lock.h"
#include "common/thread.h"

namespace kestrava {

class ReportJob {
 public:
  using Progress = std::function<void(const std::string& line)>;
  // Runs on the job's thread; must return what it has once cancel is true.
  using Work =
      std::function<ReportTable(const Progress& progress, const std::atomic<bool>& cancel)>;

  // In the window thread; starts the work at once. onProgress gets the newest line (lines that
  // came faster than the window took them are passed over); onDone gets the table, once. Both run
  // in the window thread, never after the job is destroyed. Throws KestravaError when no thread or
  // hand-off can be made.
  ReportJob(Work work, Progress onProgress, std::function<void(ReportTable table)> onDone);
  ~ReportJob();
  ReportJob(const ReportJob&) = delete;
  ReportJob& operator=(const ReportJob&) = delete;

  // Asks the work to end at its next step; onDone still follows with what it found.
  void Cancel() { cancel_.store(true); }
  bool Cancelled() const { return cancel_.load(); }
  // True until onDone has run.
  bool Running() const { return running_; }

 private:
  void HandProgress(const std::string& line);  // job thread
  void ShowProgress();                         // window thread

  Progress onProgress_;
  std::function<void(ReportTable)> onDone_;
  std::atomic<bool> cancel_{false};
  bool running_ = true;
  RecursiveLock lock_;
  std::string latest_;                       // under lock_
  std::atomic<bool> progressQueued_{false};  // a ShowProgress is on its way
  HandOff handOff_;
  std::unique_ptr<Thread> thread_;  // last: it ends before anything it uses goes
};

}  // namespace kestrava
