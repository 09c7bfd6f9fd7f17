#pragma once
// The main window as the boost worker sees it. The worker runs on its own thread while the window
// thread keeps handling user input, so every read and write here is carried out on the window
// thread: the call blocks until the window thread, waiting in its message loop, has served it (the
// window's adapter does this through a HandOff, common/hand_off.h). Once the window is gone nothing
// runs and Synchronize returns false.
#include <atomic>
#include <functional>
#include <string>

#include "boost/boost_option.h"

namespace kestrava {

class BoostWindowPort {
 public:
  virtual ~BoostWindowPort() = default;

  // The state of a check box at the moment of the call; false once the window is gone.
  virtual bool IsChecked(OptionBox box) = 0;
  // The text of edtGamePath exactly as typed; empty once the window is gone.
  virtual std::string GamePath() = 0;
  // True once the window has asked a running defragmentation to stop (it closes or is destroyed).
  virtual bool SysAbort() const = 0;
  // Puts a progress text into panel 0 of the status bar.
  virtual void SetStatusText(const std::string& text) = 0;
  // Runs routine on the window thread and returns once it has run; an exception it throws is
  // thrown again here. False when the window is gone and the routine did not run.
  virtual bool Synchronize(const std::function<void()>& routine) = 0;
};

// Cleared by the window before it starts a worker; the worker sets it as the very last thing it
// does, also when it fails. The window polls it to know that the run is over.
extern std::atomic<bool> BoostFinished;

}  // namespace kestrava
