#pragma once
// An ordered list of ANSI lines with an optional change notice, as the criteria's Paths and
// Filters and a target's Masks need it. Unsorted lists keep every line in the order added; a
// sorted list keeps its lines in case-insensitive order and ignores a line it already holds.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace kestrava {

class TStringList {
 public:
  using const_iterator = std::vector<std::string>::const_iterator;

  TStringList() = default;
  TStringList(std::initializer_list<std::string> lines);
  // Copies the lines only; the change notice and the sort switch stay with each list.
  TStringList(const TStringList& other) : lines_(other.lines_) {}
  TStringList& operator=(const TStringList& other) {
    Assign(other);
    return *this;
  }

  std::size_t Count() const { return lines_.size(); }
  bool Empty() const { return lines_.empty(); }
  const std::string& operator[](std::size_t index) const { return lines_[index]; }
  const_iterator begin() const { return lines_.begin(); }
  const_iterator end() const { return lines_.end(); }
  const std::vector<std::string>& Lines() const { return lines_; }

  // Appends a line (sorted: inserts it in order, unless an equal line is there) and returns its
  // index, or the index of the line already held.
  std::size_t Add(const std::string& line);
  void Delete(std::size_t index);
  void Set(std::size_t index, const std::string& line);
  void Clear();
  // Replaces the lines with those of other (one change notice).
  void Assign(const TStringList& other);
  // The lines joined with CR LF after each; setting it splits at CR, LF or CR LF.
  std::string Text() const;
  void SetText(const std::string& text);
  // Index of the first line equal to text ignoring ASCII case, or -1.
  int IndexOf(const std::string& text) const;

  bool Sorted() const { return sorted_; }
  void SetSorted(bool sorted);

  // Called after every change of the lines.
  std::function<void()> OnChange;

 private:
  void Changed() {
    if (OnChange) OnChange();
  }
  std::vector<std::string> lines_;
  bool sorted_ = false;
};

inline bool operator==(const TStringList& a, const TStringList& b) {
  return a.Lines() == b.Lines();
}

}  // namespace kestrava
