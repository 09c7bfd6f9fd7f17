#include "app/boost_run.h"

namespace kestrava {

void BoostRun::Execute() {
  // The action is disabled during a run, but a click queued before that must not start a second
  // worker beside the first.
  if (running_) return;
  host_.EnableBoostAction(false);
  finished_.store(false);
  const bool boost = !host_.ReadBoostMode();
  bool ran = false;
  if (host_.StartWorker(boost)) {
    started_ = true;
    running_ = true;
    WaitForWorker();
    running_ = false;
    ran = finished_.load();  // else the application ends with the worker still at work
  } else {
    // No worker will ever set the flag: nothing is left to wait for, at exit either.
    finished_.store(true);
  }
  host_.EnableBoostAction(true);
  host_.ShowBoostMode();
  // The worker put its receipt before it set the flag, so the slot holds this run's.
  const std::shared_ptr<const BoostReceipt> receipt = ran ? receipts_.Get() : nullptr;
  const std::string line = receipt != nullptr ? AfterRunLine(*receipt) : "";
  if (!line.empty()) host_.ShowEndedEarly(line);
  if (closePending_) {
    closePending_ = false;
    host_.DestroyForm();
  }
}

void BoostRun::RequestClose() {
  if (!running_) {
    host_.DestroyForm();
    return;
  }
  sysAbort_.store(true);  // a defragmentation in progress stops at its next event
  if (closePending_) return;
  closePending_ = true;
  // Execute, further up the stack, destroys the window once its run is over; destroying it here
  // would pull the controls away from under it.
  WaitForWorker();
}

void BoostRun::WaitForWorker() {
  while (!host_.Terminated() && !finished_.load()) host_.PauseAndProcessMessages();
}

void BoostRun::WaitBeforeExit() {
  if (!started_ || finished_.load()) return;
  sysAbort_.store(true);
  while (!finished_.load()) host_.PauseAndProcessMessages();
}

}  // namespace kestrava
