#pragma once
// WOW64 file-system redirection, which a 32-bit program must switch off to see the system's own
// folders on a 64-bit Windows. None of it shows anything or raises.
#include <windows.h>

#include <string>

namespace kestrava {

// True when this 32-bit process runs under WOW64; set before main and never changed.
extern const bool IsWow64;
// True when the system has the redirection entry points (Windows XP x64 and later).
extern const bool RedirAvailable;

struct TRedirState {
  bool Disabled = false;  // redirection was switched off and must be switched on again
  PVOID OldValue = nullptr;
};

// Switches redirection off for the calling thread when switchOff is true. Fails (last error 1)
// when the system lacks the entry points.
bool DisableRedirection(bool switchOff, TRedirState& state);
void RevertRedirection(const TRedirState& state);

// Redirection switched off for one scope on the calling thread when switchOff is true (callers
// pass IsWow64), and switched on again when the scope ends. The last error survives the switch
// back, so the file-system call inside the scope can be asked for its error after it.
//
//   const RedirectionOff redirection(IsWow64);
//   if (!redirection.ok()) return FailureCode();
//   UniqueFileHandle file(CreateFileA(...));
//   if (!file) return FailureCode();
class RedirectionOff {
 public:
  explicit RedirectionOff(bool switchOff) : ok_(DisableRedirection(switchOff, state_)) {}
  ~RedirectionOff();
  RedirectionOff(const RedirectionOff&) = delete;
  RedirectionOff& operator=(const RedirectionOff&) = delete;

  // False when it was asked for and could not be switched off; the last error says why.
  bool ok() const { return ok_; }

 private:
  TRedirState state_;
  bool ok_;
};

// FindFirstFileA with redirection switched off around the call; keeps FindFirstFileA's last error.
HANDLE FindFirstFileNoRedir(bool switchOff, const std::string& pattern, WIN32_FIND_DATAA& data);

}  // namespace kestrava
