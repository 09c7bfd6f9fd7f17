#pragma once
// Direct, recursive transcriptions of the two wildcard matchers, exponential on hostile input but
// obviously faithful; the tests and fuzzers compare the fast matchers with them on short inputs.
#include <string>

#include "common/code_page.h"
#include "search/text.h"

namespace kestrava::testing {

inline bool SameAnsiChar(const char* a, std::size_t al, const char* b, std::size_t bl) {
  if (al != bl) return false;
  for (std::size_t i = 0; i < al; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

// Result 0 (no match), 1 (match) or 2 (the text ran out while the mask still needed characters).
inline int ReferenceWildcardMatch(const char* text, const char* mask,
                                  const AnsiCodePage& cp = SystemCodePage()) {
  while (*mask != '\0') {
    if (*text == '\0' && *mask != '*') return 2;
    if (*mask == '*') {
      while (*mask == '*') ++mask;
      if (*mask == '\0') return 1;
      while (*text != '\0') {
        const int r = ReferenceWildcardMatch(text, mask, cp);
        if (r == 1 || r == 2) return r;
        text += cp.CharLength(text);
      }
      return 2;
    }
    const std::size_t tl = cp.CharLength(text);
    const std::size_t ml = cp.CharLength(mask);
    if (!(*mask == '?' && ml == 1) && !SameAnsiChar(text, tl, mask, ml)) return 0;
    text += tl;
    mask += ml;
  }
  return *text == '\0' ? 1 : 0;
}

inline bool ReferenceFilterMatch(const char* t, const char* te, const char* p, const char* pe) {
  const auto& lower = LowerCaseTable();
  auto fold = [&lower](char c) { return lower[static_cast<unsigned char>(c)]; };
  while (t != te && p != pe && *p != '*') {
    if (*p != '?' && fold(*p) != fold(*t)) return false;
    ++t;
    ++p;
  }
  if (t != te && p == pe) return false;
  while (p != pe && (*p == '*' || *p == '?')) ++p;
  if (t == te || p == pe) return p == pe;
  const unsigned char c = fold(*p++);
  for (;;) {
    while (t != te && fold(*t) != c) ++t;
    if (t == te) return false;
    ++t;
    if (ReferenceFilterMatch(t, te, p, pe)) return true;
  }
}

inline bool ReferenceFilterMatch(const std::string& text, const std::string& pattern) {
  return ReferenceFilterMatch(text.data(), text.data() + text.size(), pattern.data(),
                              pattern.data() + pattern.size());
}

}  // namespace kestrava::testing
