#pragma once
// Facts about the system's ANSI code page that the text routines need: which bytes begin a
// double-byte character, and how each byte lower-cases.
#include <array>
#include <cstddef>

namespace kestrava {

struct AnsiCodePage {
  std::array<bool, 256> leadByte{};        // true: this byte and the next form one character
  std::array<unsigned char, 256> lower{};  // the code page's lower case of each byte

  // The length in bytes of the character starting at p (0 at the terminating zero). A lead byte
  // followed by the terminator counts as one byte, as CharNextA treats it.
  std::size_t CharLength(const char* p) const {
    if (*p == '\0') return 0;
    return leadByte[static_cast<unsigned char>(*p)] && p[1] != '\0' ? 2 : 1;
  }
};

// The running system's code page, read once on first use (thread-safe): on Windows from
// GetCPInfo and CharLowerBuffA; on the host a single-byte Windows-1252 stand-in.
const AnsiCodePage& SystemCodePage();

}  // namespace kestrava
