#pragma once
// The diagnostics channel: one debugger-output line per event, each starting with "Tarnwell:".
#include <string>

namespace kestrava {

// Where debug lines go. The Windows build writes them with OutputDebugStringA; tests install a
// recorder. Write must be safe to call from any thread.
class DebugOutputPort {
 public:
  virtual ~DebugOutputPort() = default;
  virtual void Write(const std::string& line) = 0;
};

// The platform's own output: OutputDebugStringA on Windows; on the host, standard error when
// KESTRAVA_DEBUG_STDERR is set, else nowhere.
DebugOutputPort& PlatformDebugOutput();

// Installs the output for every later DebugLog call and returns the previous one; nullptr goes
// back to PlatformDebugOutput().
DebugOutputPort* SetDebugOutput(DebugOutputPort* port);

// Writes "Tarnwell:" + message in one call, with no time stamp and no line end.
void DebugLog(const std::string& message);

// text with every control character (below 0x20, and 0x7F) written as \xNN and every backslash
// doubled: a name that came from outside the program (a registry value any program of the user
// can write) can neither break a debug line nor start a "Tarnwell:" line of its own, and the
// reader still sees exactly what it held.
std::string VisibleText(const std::string& text);

}  // namespace kestrava
