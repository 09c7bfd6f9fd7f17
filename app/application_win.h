#pragma once
// The user-interface thread's message loop. Keyboard navigation between the main window's
// controls (Tab, arrow keys, mnemonics) goes through the dialog manager.
#include <windows.h>

namespace kestrava {

class Application {
 public:
  // The window whose controls the dialog manager navigates; nullptr once it is gone.
  void SetMainWindow(HWND window) { main_ = window; }

  // Handles messages until the loop receives WM_QUIT.
  void Run();
  // Handles every message pending now, and notes WM_QUIT.
  void ProcessMessages();
  // Waits up to a millisecond, less when input or a message from another thread arrives, then
  // handles every pending message.
  void PauseAndProcessMessages();
  // True once WM_QUIT has been received: the application is ending.
  bool Terminated() const { return terminated_; }

 private:
  void Dispatch(MSG& message);

  HWND main_ = nullptr;
  bool terminated_ = false;
};

}  // namespace kestrava
