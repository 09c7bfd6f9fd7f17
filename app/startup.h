#pragma once
// Start-up and the single-instance rule: at most one instance per logon. A later start wakes the
// running one (unless it carries the autorun switch) and ends; every refusal is silent.
#include <cstdint>
#include <string>
#include <vector>

namespace kestrava {

// The second-start message, posted with both parameters 0 to the running instance's window.
inline constexpr unsigned kWakeUpMessage = 0x0400 + 555;  // WM_USER + 555 = 1579

// The instance mutex's name: the window title without its last word.
inline constexpr char kInstanceMutexName[] = "Tarnwell Kestrava";

enum class MutexResult {
  Created,        // this is the first instance
  AlreadyExists,  // another instance is starting and has no window yet
  Failed,         // no mutex at all: carry on as though no other instance existed
};

// What start-up needs from the system.
class StartupPort {
 public:
  using Window = std::uintptr_t;  // HWND on Windows; 0 means none

  virtual ~StartupPort() = default;
  // The top-level window titled "Tarnwell Kestrava FREE", visible or hidden; 0 when none.
  virtual Window FindRunningInstance() = 0;
  // Posts kWakeUpMessage to that window without waiting for an answer.
  virtual void PostWakeUp(Window window) = 0;
  // Creates the instance mutex, not owned, and keeps its handle until the process ends.
  virtual MutexResult CreateInstanceMutex() = 0;
  // Initialises the application, creates the main window (shown or hidden) and runs the message
  // loop until the window closes.
  virtual void RunApplication(bool showMainWindow) = 0;
};

// Runs the start-up steps in order over the arguments (the program name excluded). The result is
// the process's exit code, 0 on every path.
int RunStartup(StartupPort& port, const std::vector<std::string>& arguments);

}  // namespace kestrava
