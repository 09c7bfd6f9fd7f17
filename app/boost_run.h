#pragma once
// One press of the boost button and closing the window around it. The window starts a worker,
// then waits for BoostFinished while it keeps processing messages, so that the user can still
// use it and the worker's synchronised calls are served. Closing during a run first asks a
// defragmentation to stop and lets the worker finish: the worker reads the window's controls, and
// they must outlive it.
#include <atomic>
#include <memory>
#include <string>

#include "boost/receipt.h"

namespace kestrava {

// What the run needs from the window and the application.
class BoostRunHost {
 public:
  virtual ~BoostRunHost() = default;
  // Enables or disables the boost action (and with it its button).
  virtual void EnableBoostAction(bool enabled) = 0;
  // Reads the mode from the record and puts it on the button and the status bar.
  virtual void ShowBoostMode() = 0;
  // Puts the line of a run that ended early, or of a restore that could not delete the record,
  // into status panel 0, over the mode's text.
  virtual void ShowEndedEarly(const std::string& line) = 0;
  virtual bool ReadBoostMode() = 0;
  // Creates a worker, suspended, for this window and the flag (true: a boost, false: a restore),
  // that leaves its receipt in the run's slot (BoostRun::Receipts), and resumes it. False when no
  // worker could be started.
  virtual bool StartWorker(bool boost) = 0;
  // One turn of the waiting loop: sleeps about a millisecond (less when a message arrives), then
  // handles every pending message. Handlers may run anything, this object's operations included.
  virtual void PauseAndProcessMessages() = 0;
  // True once the application has been told to end (its message loop received WM_QUIT).
  virtual bool Terminated() = 0;
  // Destroys the window, which ends the application.
  virtual void DestroyForm() = 0;
};

class BoostRun {
 public:
  BoostRun(BoostRunHost& host, std::atomic<bool>& finished) : host_(host), finished_(finished) {}
  BoostRun(const BoostRun&) = delete;
  BoostRun& operator=(const BoostRun&) = delete;

  // The boost button: a boost when the mode is off, a restore when it is on.
  void Execute();
  // The Close button, the close box and anything else that closes the window. During a run the
  // window closes as soon as the run is over.
  void RequestClose();
  // Waits, processing messages, until the worker has finished or the application terminates.
  void WaitForWorker();
  // For the end of the process: a worker left running by a terminating application is asked to
  // abort and waited for, so that it never touches controls that are gone.
  void WaitBeforeExit();

  // True from the start of a worker until the waiting loop of its run ends.
  bool WorkerRunning() const { return running_; }
  // Read by the worker's thread; once true it stays true.
  bool SysAbort() const { return sysAbort_.load(); }
  void SetSysAbort(bool value) { sysAbort_.store(value); }
  const std::atomic<bool>& SysAbortFlag() const { return sysAbort_; }

  // Where each worker leaves the receipt of its run.
  ReceiptSlot& Receipts() { return receipts_; }
  // The receipt of the last run that finished; nullptr before the first.
  std::shared_ptr<const BoostReceipt> LastReceipt() { return receipts_.Get(); }

 private:
  BoostRunHost& host_;
  std::atomic<bool>& finished_;
  std::atomic<bool> sysAbort_{false};
  ReceiptSlot receipts_;
  bool running_ = false;
  bool started_ = false;  // a worker was started at least once (finished_ tells whether it ended)
  bool closePending_ = false;  // the window was asked to close during a run
};

}  // namespace kestrava
