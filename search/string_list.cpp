#include "search/string_list.h"

#include <algorithm>

#include "search/text.h"

namespace kestrava {
namespace {

int CompareIgnoringCase(const std::string& a, const std::string& b) {
  const std::string la = FoldAsciiLower(a);
  const std::string lb = FoldAsciiLower(b);
  return la.compare(lb);
}

}  // namespace

TStringList::TStringList(std::initializer_list<std::string> lines) : lines_(lines) {}

std::size_t TStringList::Add(const std::string& line) {
  if (!sorted_) {
    lines_.push_back(line);
    Changed();
    return lines_.size() - 1;
  }
  auto it = std::lower_bound(
      lines_.begin(), lines_.end(), line,
      [](const std::string& a, const std::string& b) { return CompareIgnoringCase(a, b) < 0; });
  const std::size_t index = static_cast<std::size_t>(it - lines_.begin());
  if (it != lines_.end() && CompareIgnoringCase(*it, line) == 0) return index;
  lines_.insert(it, line);
  Changed();
  return index;
}

void TStringList::Delete(std::size_t index) {
  if (index >= lines_.size()) return;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(index));
  Changed();
}

void TStringList::Set(std::size_t index, const std::string& line) {
  if (index >= lines_.size()) return;
  if (sorted_) {
    // A sorted list keeps its order: the line moves to its place.
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(index));
    Add(line);
    return;
  }
  lines_[index] = line;
  Changed();
}

void TStringList::Clear() {
  if (lines_.empty()) return;
  lines_.clear();
  Changed();
}

void TStringList::Assign(const TStringList& other) {
  if (this == &other) return;
  if (!sorted_) {
    lines_ = other.lines_;
    Changed();
    return;
  }
  std::vector<std::string> lines = other.lines_;
  std::stable_sort(lines.begin(), lines.end(), [](const std::string& a, const std::string& b) {
    return CompareIgnoringCase(a, b) < 0;
  });
  lines.erase(std::unique(lines.begin(), lines.end(),
                          [](const std::string& a, const std::string& b) {
                            return CompareIgnoringCase(a, b) == 0;
                          }),
              lines.end());
  lines_ = std::move(lines);
  Changed();
}

std::string TStringList::Text() const {
  std::string text;
  for (const std::string& line : lines_) text += line + "\r\n";
  return text;
}

void TStringList::SetText(const std::string& text) {
  TStringList parsed;
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      parsed.lines_.push_back(line);
      line.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      line += c;
    }
  }
  if (!line.empty()) parsed.lines_.push_back(line);
  Assign(parsed);
}

int TStringList::IndexOf(const std::string& text) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (SameTextAscii(lines_[i], text)) return static_cast<int>(i);
  }
  return -1;
}

void TStringList::SetSorted(bool sorted) {
  if (sorted == sorted_) return;
  sorted_ = sorted;
  if (sorted_) {
    TStringList copy;
    copy.lines_ = lines_;
    Assign(copy);
  }
}

}  // namespace kestrava
