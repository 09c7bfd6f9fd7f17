#pragma once
// Start-up against the real system: the window search, the wake-up message, the instance mutex
// and the application with its main window.
#include <windows.h>

#include "app/startup.h"

namespace kestrava {

// Takes the program's folder and the current folder out of the search for DLLs that are loaded
// by name from now on (by the program or by the system on its behalf: shell, themes, common
// dialogs). The first thing the program does.
void RestrictDllSearch();

class StartupWin final : public StartupPort {
 public:
  StartupWin(HINSTANCE instance, int showCommand)
      : instance_(instance), showCommand_(showCommand) {}

  Window FindRunningInstance() override;
  void PostWakeUp(Window window) override;
  MutexResult CreateInstanceMutex() override;
  void RunApplication(bool showMainWindow) override;

 private:
  HINSTANCE instance_;
  int showCommand_;
};

}  // namespace kestrava
