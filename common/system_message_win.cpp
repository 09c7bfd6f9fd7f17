#include <windows.h>

#include "common/system_message.h"

namespace kestrava {

std::string SystemMessage(WinError code) {
  char buffer[256];
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                     MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, sizeof(buffer), nullptr);
  return TrimMessageText(std::string(buffer, length));
}

}  // namespace kestrava
