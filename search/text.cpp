#include "search/text.h"

#include <cstdint>
#include <vector>

namespace kestrava {
namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

// Folds single-byte characters through table and copies double-byte characters unchanged.
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

}  // namespace

std::string Trim(const std::string& text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && IsBlank(text[last - 1])) --last;
  return text.substr(first, last - first);
}

std::string FoldAsciiLower(const std::string& text, const AnsiCodePage& cp) {
  return FoldSingleBytes(text, cp, [](unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
  });
}

bool SameTextAscii(const std::string& a, const std::string& b, const AnsiCodePage& cp) {
  return a.size() == b.size() && FoldAsciiLower(a, cp) == FoldAsciiLower(b, cp);
}

bool SameTextAnsi(const std::string& a, const std::string& b, const AnsiCodePage& cp) {
  if (a.size() != b.size()) return false;
  auto fold = [&cp](unsigned char c) { return cp.lower[c]; };
  return FoldSingleBytes(a, cp, fold) == FoldSingleBytes(b, cp, fold);
}

TStringList SplitToList(const std::string& text, char delimiter) {
  TStringList list;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(delimiter, start);
    if (end == std::string::npos) end = text.size();
    const std::string piece = Trim(text.substr(start, end - start));
    if (!piece.empty()) {
      bool seen = false;
      for (const std::string& earlier : list) {
        if (SameTextAnsi(earlier, piece)) {
          seen = true;
          break;
        }
      }
      if (!seen) list.Add(piece);
    }
    start = end + 1;
  }
  return list;
}

const std::array<unsigned char, 256>& LowerCaseTable() {
  // The code page's table is itself CharLowerBuffA applied to the 256 byte values.
  static const std::array<unsigned char, 256> table = SystemCodePage().lower;
  return table;
}

// The recursive definition (match literals up to the next "*", skip the run of "*" and "?", then
// try every later occurrence of the next literal) is a function of the two positions alone. It is
// evaluated here from the ends backwards, one pattern position at a time:
//   F(i, j): the text from i matches the pattern from j;
//   G(i, j): for the literal at j, some occurrence at i' >= i has F(i' + 1, j + 1).
// Only the column of the next pattern position and the G column of the nearest literal to the
// right are needed, so time is O(n * m) and space O(n), whatever the input.
bool MatchFilterPattern(const std::string& text, const std::string& pattern) {
  const auto& lower = LowerCaseTable();
  const std::size_t n = text.size();
  const std::size_t m = pattern.size();
  auto fold = [&lower](char c) { return lower[static_cast<unsigned char>(c)]; };

  std::vector<std::uint8_t> next(n + 1), cur(n + 1), g(n + 1, 0);
  // Pattern used up: only the used-up text matches.
  for (std::size_t i = 0; i < n; ++i) next[i] = 0;
  next[n] = 1;
  std::size_t literalRight = m;  // first position right of j that is neither "*" nor "?"

  for (std::size_t j = m; j-- > 0;) {
    const char p = pattern[j];
    if (p == '*' || p == '?') {
      const bool restEmpty = literalRight == m;
      for (std::size_t i = 0; i < n; ++i) {
        if (p == '?') {
          cur[i] = next[i + 1];
        } else {
          cur[i] = restEmpty ? 1 : g[i];
        }
      }
      cur[n] = restEmpty ? 1 : 0;
    } else {
      const unsigned char c = fold(p);
      for (std::size_t i = 0; i < n; ++i) cur[i] = fold(text[i]) == c ? next[i + 1] : 0;
      cur[n] = 0;
      // G for this literal, from the column right of it.
      g[n] = 0;
      for (std::size_t i = n; i-- > 0;) g[i] = (fold(text[i]) == c && next[i + 1]) || g[i + 1];
      literalRight = j;
    }
    next.swap(cur);
  }
  return next[0] != 0;
}

}  // namespace kestrava
