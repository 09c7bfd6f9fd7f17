#include "search/text.h"

namespace kestrava {
namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

}  // namespace

std::string Trim(const std::string& text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && IsBlank(text[last - 1])) --last;
  return text.substr(first, last - first);
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

// The recursive definition matches literals and "?" up to the next "*", skips the run of "*" and
// "?" after it, then tries every later occurrence of the literal that follows. Whether the rest
// of the pattern matches from some occurrence at or after a position can only get harder as the
// position moves right, and any other way through an earlier "*" reaches the latest one further
// right. So a failed try goes back to the latest "*" alone, to its next occurrence: the same
// answer in O(n * m) steps at worst and without memory of its own.
bool MatchFilterPattern(const std::string& text, const std::string& pattern) {
  const auto& lower = LowerCaseTable();
  auto fold = [&lower](char c) { return lower[static_cast<unsigned char>(c)]; };
  const char* t = text.data();
  const char* const te = t + text.size();
  const char* p = pattern.data();
  const char* const pe = p + pattern.size();

  const char* resume = nullptr;  // pattern after the literal that follows the latest "*"
  const char* from = nullptr;    // text where the search for that literal goes on
  unsigned char wanted = 0;      // that literal, folded
  for (;;) {
    while (t != te && p != pe && *p != '*' && (*p == '?' || fold(*p) == fold(*t))) {
      ++t;
      ++p;
    }
    const bool differs = t != te && p != pe && *p != '*';
    const bool textLeftOver = t != te && p == pe;
    if (!differs && !textLeftOver) {
      while (p != pe && (*p == '*' || *p == '?')) ++p;
      if (p == pe) return true;
      if (t != te) {  // a "*" with a literal after it
        wanted = fold(*p++);
        resume = p;
        from = t;
      }
    }
    if (resume == nullptr) return false;
    while (from != te && fold(*from) != wanted) ++from;
    if (from == te) return false;
    t = ++from;
    p = resume;
  }
}

}  // namespace kestrava
