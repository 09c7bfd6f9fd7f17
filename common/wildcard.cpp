#include "common/wildcard.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace kestrava {
namespace {

// One character of a text or mask: its first byte's offset and its length (1 or 2 bytes).
struct Char {
  const char* p;
  std::uint8_t length;
};

void SplitChars(const char* s, const AnsiCodePage& cp, std::vector<Char>& out) {
  out.clear();
  for (std::size_t length; (length = cp.CharLength(s)) != 0; s += length) {
    out.push_back(Char{s, static_cast<std::uint8_t>(length)});
  }
}

bool SameChar(const Char& a, const Char& b) {
  return a.length == b.length && std::memcmp(a.p, b.p, a.length) == 0;
}

bool IsStar(const Char& c) { return c.length == 1 && *c.p == '*'; }
bool IsQuestion(const Char& c) { return c.length == 1 && *c.p == '?'; }

}  // namespace

// The recursive definition (at a "*", try the rest of the mask at every later text position and
// stop at the first answer other than "no match") gives a result that depends on the two
// positions alone. It is computed here column by column from the end of the mask:
//   W(i, j) = result for text from character i and mask from character j;
//   at a "*": S(i) = W(i, j') if that is not 0, else S(i + 1), with S(n) = 2 (the text ran out),
// where j' is the first mask character after the run of "*". Time O(n * m), space O(n).
int WildcardMatch(const char* text, const char* mask, const AnsiCodePage& cp) {
  // Masks without "*" are a plain walk; they are the common case besides "*" alone.
  bool hasStar = false;
  for (const char* m = mask; *m != '\0'; m += cp.CharLength(m)) {
    if (*m == '*') {
      hasStar = true;
      break;
    }
  }
  if (!hasStar) {
    const char* t = text;
    const char* m = mask;
    while (*m != '\0') {
      if (*t == '\0') return kWildcardTextEnded;
      const std::size_t tl = cp.CharLength(t);
      const std::size_t ml = cp.CharLength(m);
      if (!(ml == 1 && *m == '?') && (tl != ml || std::memcmp(t, m, tl) != 0)) return kWildcardNoMatch;
      t += tl;
      m += ml;
    }
    return *t == '\0' ? kWildcardMatch : kWildcardNoMatch;
  }

  std::vector<Char> t, m;
  SplitChars(text, cp, t);
  SplitChars(mask, cp, m);
  const std::size_t n = t.size();
  // A mask that is only "*"s matches any text.
  std::size_t firstNonStar = 0;
  while (firstNonStar < m.size() && IsStar(m[firstNonStar])) ++firstNonStar;
  if (firstNonStar == m.size()) return kWildcardMatch;

  std::vector<std::uint8_t> next(n + 1, kWildcardNoMatch), cur(n + 1);
  next[n] = kWildcardMatch;  // mask used up: a match when the text is used up too
  bool onlyStarsRight = true;
  for (std::size_t j = m.size(); j-- > 0;) {
    if (IsStar(m[j])) {
      if (onlyStarsRight) {
        for (std::size_t i = 0; i <= n; ++i) cur[i] = kWildcardMatch;
      } else {
        cur[n] = kWildcardTextEnded;
        for (std::size_t i = n; i-- > 0;) cur[i] = next[i] != kWildcardNoMatch ? next[i] : cur[i + 1];
      }
    } else {
      onlyStarsRight = false;
      const bool any = IsQuestion(m[j]);
      for (std::size_t i = 0; i < n; ++i) {
        cur[i] = any || SameChar(t[i], m[j]) ? next[i + 1] : std::uint8_t{kWildcardNoMatch};
      }
      cur[n] = kWildcardTextEnded;
    }
    next.swap(cur);
  }
  return next[0];
}

bool MatchesWildcard(const std::string& text, const std::string& mask) {
  return WildcardMatch(text.c_str(), mask.c_str()) == kWildcardMatch;
}

}  // namespace kestrava
