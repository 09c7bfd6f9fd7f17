#pragma once
// Folding the case of text byte by byte without the C library's locale, by the characters of the
// ANSI code page: a trail byte of a double-byte character is never folded, even when it has the
// value of a capital letter (Shift-JIS "ア" is 0x83 0x41, 'A').
#include <cstddef>
#include <string>

#include "common/code_page.h"

namespace kestrava {

// A copy with every single-byte character passed through fold(unsigned char) and double-byte
// characters unchanged.
template <typename Fold>
std::string FoldSingleBytes(const std::string& text, const AnsiCodePage& cp, Fold fold) {
  std::string result(text);
  for (std::size_t i = 0; i < result.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(result[i]);
    if (cp.leadByte[c] && i + 1 < result.size()) {
      ++i;  // the trail byte belongs to the character
      continue;
    }
    result[i] = static_cast<char>(fold(c));
  }
  return result;
}

// A copy with the ASCII letters A-Z lowered and every other byte kept: what switches, registry
// names and folder comparisons fold by, the same on every code page.
inline std::string FoldAsciiLower(const std::string& text,
                                  const AnsiCodePage& cp = SystemCodePage()) {
  return FoldSingleBytes(text, cp, [](unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
  });
}

}  // namespace kestrava
