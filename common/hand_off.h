#pragma once
// Handing work to the thread that owns a window: the one way in this program for a worker to get
// something done on the user-interface thread (the boost worker's Synchronize) or for the finder's
// search thread to bring its end back to the thread that started it.
//
// How it works. A HandOff is made in its owner thread and keeps a message-only window there, and
// a queue of work. Post and Send add to the queue and then tell the window with one message,
// kHandOffMessage, which carries no data: whatever the message's parameters, or whoever else sent
// it, all the window ever does with it is run what is in its own queue. Post tells it with
// PostMessage and returns; Send tells it with SendMessage, which Windows delivers to the owner
// thread only when that thread retrieves messages (GetMessage, PeekMessage), so the work never
// races the owner's own code, and blocks until the window has run it. The owner therefore must
// keep pumping messages while others send to it: the window's waiting loop of a run does, and so
// do the finder's Abort and destructor while they wait for their thread.
//
// Close (the owner window is being destroyed) ends it: queued work is dropped, a Send waiting or
// arriving later returns false without running anything, a later Post is dropped. The object
// itself must outlive every thread that may still call it.
//
// The host build has the same protocol over a queue per thread; PumpOneMessage serves it there.
#include <functional>
#include <memory>

namespace kestrava {

class HandOff {
 public:
  // In the owner thread. Throws KestravaError when its window cannot be made.
  HandOff();
  // In the owner thread; closes first.
  ~HandOff();
  HandOff(const HandOff&) = delete;
  HandOff& operator=(const HandOff&) = delete;

  // From any thread: work runs later in the owner thread, in the order handed over. It must not
  // throw: there is nobody to hand an error to (one that escapes is dropped).
  void Post(std::function<void()> work);
  // From any thread: runs work in the owner thread and returns once it has run; an exception it
  // throws is thrown again here. In the owner thread itself it runs at once. False when the
  // hand-off is closed and work did not run.
  bool Send(const std::function<void()>& work);
  // In the owner thread.
  void Close();
  bool InOwnerThread() const;

  struct Impl;

 private:
  // Shared with a drain in progress: work may destroy the hand-off it came through.
  std::shared_ptr<Impl> impl_;
};

// Removes one waiting message of the calling thread's queue and handles it (Windows: any window's
// message, translated and dispatched, with WM_QUIT left for the thread's own loop; host: one
// hand-off message). False when none was waiting.
bool PumpOneMessage();
// Gives the rest of the time slice to another ready thread.
void YieldThread();

}  // namespace kestrava
