#pragma once
// The system's message text for a Win32 error code, as it appears in log lines and exceptions.
#include <string>

#include "common/win_error.h"

namespace kestrava {

// Removes every trailing control character, blank and full stop ("Access is denied.\r\n" becomes
// "Access is denied").
std::string TrimMessageText(std::string text);

// The system's text for the code (at most 256 bytes, neutral language, inserts ignored), trimmed
// as above. Empty when the system has no text for it.
std::string SystemMessage(WinError code);

}  // namespace kestrava
