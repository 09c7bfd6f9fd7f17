#include "common/wildcard.h"

#include <cstring>

namespace kestrava {
namespace {

// The first position from text where a try of the mask after a "*" can begin. A try at a
// character other than the mask's first one gives "no match" at once, so when that is a
// single-byte literal the positions before its next occurrence need no try of their own.
const char* SkipToCandidate(const char* text, const char* mask, const AnsiCodePage& cp) {
  const char wanted = *mask;
  if (wanted == '?' || cp.leadByte[static_cast<unsigned char>(wanted)]) return text;
  while (*text != '\0' && *text != wanted) text += cp.CharLength(text);
  return text;
}

}  // namespace

// The recursive definition tries, at each "*", the rest of the mask at every later text position
// and stops at the first answer other than "no match". Past the last "*" of the mask an attempt
// can end only in "match", "no match" (the characters differ, or text is left over) or "text
// ended"; and once an attempt reaches a further "*", the tries at that "*" end in "match" or
// "text ended", both final. So no answer is ever taken back to an earlier "*": remembering only
// the latest "*" and where its next try starts computes the same result, in O(n * m) steps at
// worst and without memory of its own.
int WildcardMatch(const char* text, const char* mask, const AnsiCodePage& cp) {
  const char* star = nullptr;      // mask just after the latest run of "*"
  const char* starText = nullptr;  // text where the latest try at that "*" began
  for (;;) {
    if (*mask == '*') {
      do ++mask;
      while (*mask == '*');
      if (*mask == '\0') return kWildcardMatch;
      star = mask;
      starText = SkipToCandidate(text, mask, cp);
      if (*starText == '\0') return kWildcardTextEnded;
      text = starText;
      continue;
    }
    if (*mask == '\0') {
      if (*text == '\0') return kWildcardMatch;
    } else {
      if (*text == '\0') return kWildcardTextEnded;
      const unsigned char tc = static_cast<unsigned char>(*text);
      const unsigned char mc = static_cast<unsigned char>(*mask);
      if (!cp.leadByte[tc] && !cp.leadByte[mc]) {  // two single-byte characters, the usual case
        if (mc == '?' || mc == tc) {
          ++text;
          ++mask;
          continue;
        }
      } else {
        const std::size_t tl = cp.CharLength(text);
        const std::size_t ml = cp.CharLength(mask);
        if ((ml == 1 && mc == '?') || (tl == ml && std::memcmp(text, mask, tl) == 0)) {
          text += tl;
          mask += ml;
          continue;
        }
      }
    }
    // This try failed: the next one starts one character later in the text.
    if (star == nullptr) return kWildcardNoMatch;
    starText = SkipToCandidate(starText + cp.CharLength(starText), star, cp);
    if (*starText == '\0') return kWildcardTextEnded;
    text = starText;
    mask = star;
  }
}

bool MatchesWildcard(const std::string& text, const std::string& mask) {
  return WildcardMatch(text.c_str(), mask.c_str()) == kWildcardMatch;
}

}  // namespace kestrava
