#pragma once
// The lead bytes of Shift-JIS (code page 932), the Japanese ANSI code page: enough to walk its
// double-byte characters, several of which have the trail byte 0x5C of the backslash.
#include "common/code_page.h"

namespace kestrava::testing {

inline AnsiCodePage ShiftJisCodePage() {
  AnsiCodePage cp = SystemCodePage();
  cp.leadByte = {};
  for (int b = 0x81; b <= 0x9F; ++b) cp.leadByte[b] = true;
  for (int b = 0xE0; b <= 0xFC; ++b) cp.leadByte[b] = true;
  return cp;
}

// Folder names ending in such a character: "表", "ソ" and "能".
inline constexpr const char* kTrailBackslashNames[] = {"\x95\x5C", "\x83\x5C", "\x94\x5C"};

}  // namespace kestrava::testing
