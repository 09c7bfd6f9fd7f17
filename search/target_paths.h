#pragma once
// The folders one search walks, each with its own name masks, subfolder switch and depth limits,
// built from locations such as "C:\Games", ">C:\Games", "<C:\Games", "3>C:\Games" and
// "2-4>C:\Games" (see ParseLocation).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/code_page.h"
#include "search/search_ports.h"
#include "search/string_list.h"

namespace kestrava {

class TTargetPath {
 public:
  std::string Folder;  // full path, always ending in the separator
  TStringList Masks;   // every mask added, duplicates included, in the order added
  bool Subfolders = true;
  std::uint16_t MinLevel = 0;  // first depth whose entries are reported; the folder itself is 1
  std::uint16_t MaxLevel =
      0;  // subfolders of a folder at depth d are walked while d < MaxLevel; 0 = no limit
};

class TTargetPaths {
 public:
  // Folder texts are read by the characters of cp: see common/paths.h.
  explicit TTargetPaths(PathPort& paths = PlatformPaths(),
                        const AnsiCodePage& cp = SystemCodePage())
      : paths_(paths), cp_(cp) {}
  TTargetPaths(const TTargetPaths&) = delete;
  TTargetPaths& operator=(const TTargetPaths&) = delete;

  std::size_t Count() const { return items_.size(); }
  TTargetPath& Items(std::size_t index) const { return *items_[index]; }
  void Clear() { items_.clear(); }
  void Delete(std::size_t index);

  // The first item whose folder equals folder ignoring the case of ASCII letters, or null.
  TTargetPath* FindFolder(const std::string& folder) const;
  // The item for the folder named by location (created, or the earlier one updated: the latest
  // call's folder text, switch and levels win). Appends the masks, or "*.*" when there are none.
  TTargetPath& AddFolder(const std::string& location, const TStringList* masks, bool subfolders,
                         int minLevel, int maxLevel);
  // The item for the folder part of path, whose last part is a name mask ("*.*" when empty).
  TTargetPath& AddPath(const std::string& path, bool subfolders, int minLevel, int maxLevel);

  // Applies the location's depth prefix to the defaults passed in and returns the normalised
  // folder: ">" turns subfolders on, "<" off; "N>" sets MaxLevel N and MinLevel 0; "A-B>" sets
  // MinLevel A and MaxLevel B, a part that is not a number keeping its value.
  std::string ParseLocation(const std::string& location, bool& subfolders, int& minLevel,
                            int& maxLevel) const;

 private:
  TTargetPath& ItemFor(const std::string& folder, bool subfolders, int minLevel, int maxLevel);

  PathPort& paths_;
  AnsiCodePage cp_;
  std::vector<std::unique_ptr<TTargetPath>> items_;
};

// Parses a decimal integer with an optional sign, nothing else around it. False when text is not
// one or does not fit 32 bits.
bool ParseLevel(const std::string& text, int* value);

}  // namespace kestrava
