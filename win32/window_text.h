#pragma once
// The text of a window or control, whatever its length.
#include <windows.h>

#include <algorithm>
#include <string>

namespace kestrava {

inline std::string WindowText(HWND window) {
  std::string text(static_cast<std::size_t>(std::max(0, GetWindowTextLengthA(window))) + 1, '\0');
  text.resize(static_cast<std::size_t>(
      std::max(0, GetWindowTextA(window, &text[0], static_cast<int>(text.size())))));
  return text;
}

}  // namespace kestrava
