#pragma once
// Threads of the program's own: the boost worker and the finder's search thread. The Windows
// build's compiler runtime has no std::thread, so both builds go through this (a _beginthreadex
// thread on Windows, std::thread on the host). How work gets back to the thread that owns a
// window is the hand-off's business (common/hand_off.h).
#include <cstdint>
#include <functional>
#include <memory>

namespace kestrava {

enum TThreadPriority : std::uint8_t {
  tpIdle,
  tpLowest,
  tpLower,
  tpNormal,
  tpHigher,
  tpHighest,
  tpTimeCritical
};

class Thread {
 public:
  // Creates the thread suspended, sets its priority and lets it run body. Throws KestravaError
  // "Thread creation error: " + the system's reason when it cannot be created.
  explicit Thread(std::function<void()> body, TThreadPriority priority = tpNormal);
  // Waits for body to end (unless detached): a thread never outlives what it was given.
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Waits up to milliseconds for body to end; true once it has.
  bool WaitFor(std::uint32_t milliseconds);
  // Lets the thread run on by itself: body must own everything it uses. Nothing can wait for it
  // afterwards.
  void Detach();

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace kestrava
