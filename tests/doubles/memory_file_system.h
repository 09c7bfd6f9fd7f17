#pragma once
// An in-memory Windows file system for the search tests: folders and files with attributes, sizes
// and times, enumerated in the order they were added (".", ".." first, except in drive roots),
// case-insensitive names, folders that refuse to be listed, a current directory and mapped
// network drives. Also a local-time double with a fixed offset from UTC.
#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/civil_date.h"
#include "common/paths.h"
#include "common/wildcard.h"
#include "search/search_ports.h"
#include "search/text.h"

namespace kestrava::testing {

// FILETIME of a UTC calendar time.
inline std::uint64_t FileTimeOf(int year, int month, int day, int hour = 0, int minute = 0,
                                int second = 0, int ms = 0) {
  const long long daysFrom1970 = DaysFromCivil(year, month, day);
  const long long seconds = (daysFrom1970 + 134774) * 86400LL + hour * 3600LL + minute * 60LL + second;
  return static_cast<std::uint64_t>(seconds) * 10000000ULL + static_cast<std::uint64_t>(ms) * 10000ULL;
}

class MemoryFileSystem final : public DirectoryPort, public PathPort {
 public:
  std::string currentDirectory = "C:\\Work\\";
  std::map<char, std::string> mappedDrives;  // upper-case drive letter -> "\\server\share"

  // Counters the tests look at.
  int findFirstCalls = 0;
  int folderOnlyCalls = 0;
  int openHandles = 0;
  int maxOpenHandles = 0;
  std::vector<std::string> patterns;  // every FindFirst pattern, in order

  // Paths are read by the characters of cp, as GetFullPathNameA reads them by the ANSI code page.
  explicit MemoryFileSystem(const AnsiCodePage& cp = SystemCodePage()) : cp_(cp) {}

  // Adds a folder (and its missing parents) with the given attributes.
  void AddFolder(const std::string& path, std::uint32_t attributes = attr::kDirectory) {
    Add(Strip(path), attributes | attr::kDirectory, 0, 0);
  }
  // Adds a file (and its missing parent folders).
  void AddFile(const std::string& path, std::int64_t size = 0,
               std::uint32_t attributes = attr::kArchive, std::uint64_t writeTime = 0) {
    Add(path, attributes, size, writeTime);
  }
  void SetTimes(const std::string& path, std::uint64_t created, std::uint64_t written,
                std::uint64_t accessed) {
    TFindData* d = Find(path);
    d->CreationTime = created;
    d->LastWriteTime = written;
    d->LastAccessTime = accessed;
  }
  // Listing this folder fails with access denied.
  void Deny(const std::string& folder) { denied_.push_back(Key(Strip(folder))); }

  // --- DirectoryPort ---
  WinError FindFirst(const std::string& pattern, TFindData& data, Handle* handle,
                     FindScope scope = FindScope::kAllEntries) override {
    ++findFirstCalls;
    if (scope == FindScope::kFoldersOnly) ++folderOnlyCalls;
    patterns.push_back(pattern);
    const std::size_t split = pattern.rfind('\\');
    const std::string folder = Strip(pattern.substr(0, split));
    const std::string mask = FoldAsciiLower(pattern.substr(split + 1));
    const std::string key = Key(folder);
    if (std::find(denied_.begin(), denied_.end(), key) != denied_.end()) return err::kAccessDenied;
    auto it = folders_.find(key);
    if (it == folders_.end()) return err::kPathNotFound;
    auto listing = std::make_unique<Listing>();
    if (!IsRoot(folder)) {
      for (const char* dots : {".", ".."}) {
        TFindData d;
        d.Attributes = attr::kDirectory;
        d.Name = dots;
        listing->entries.push_back(d);
      }
    }
    for (const std::string& child : it->second) {
      const TFindData& d = entries_.at(child);
      if (MatchesWildcard(FoldAsciiLower(d.Name), mask)) listing->entries.push_back(d);
    }
    if (listing->entries.empty()) return err::kFileNotFound;
    data = listing->entries[0];
    listing->next = 1;
    *handle = nextHandle_++;
    listings_[*handle] = std::move(listing);
    maxOpenHandles = std::max(maxOpenHandles, ++openHandles);
    return err::kSuccess;
  }
  WinError FindNext(Handle handle, TFindData& data) override {
    Listing& l = *listings_.at(handle);
    if (l.next >= l.entries.size()) return err::kNoMoreFiles;
    data = l.entries[l.next++];
    return err::kSuccess;
  }
  void FindClose(Handle handle) override {
    if (listings_.erase(handle) != 0) --openHandles;
  }

  // --- PathPort ---
  char Separator() const override { return '\\'; }
  bool IsNameDelimiter(char c) const override { return c == '\\' || c == '/' || c == ':'; }
  WinError FullPath(const std::string& path, std::string* full) override {
    std::string p = path;
    std::replace(p.begin(), p.end(), '/', '\\');
    std::string root;
    std::string rest;
    if (p.rfind("\\\\", 0) == 0) {  // \\server\share\...
      const std::size_t server = p.find('\\', 2);
      const std::size_t share = server == std::string::npos ? server : p.find('\\', server + 1);
      root = p.substr(0, share);
      rest = share == std::string::npos ? "" : p.substr(share);
    } else if (p.size() >= 2 && p[1] == ':') {
      root = p.substr(0, 2);
      rest = p.substr(2);
      if (rest.empty() || rest[0] != '\\') rest = "\\" + rest;
    } else if (!p.empty() && p[0] == '\\') {
      root = currentDirectory.substr(0, 2);
      rest = p;
    } else {
      root = currentDirectory.substr(0, 2);
      rest = currentDirectory.substr(2) + p;
    }
    const std::vector<std::string> parts = CollapsePathParts(rest, '\\', cp_);
    std::string result = root;
    for (const std::string& part : parts) result += "\\" + part;
    if (parts.empty() || EndsWithChar(rest, '\\', cp_)) result += "\\";
    *full = result;
    ++fullPathCalls;
    return err::kSuccess;
  }
  WinError UniversalName(const std::string& path, std::string* unc) override {
    const char drive = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
    auto it = mappedDrives.find(drive);
    if (it == mappedDrives.end()) return err::kNotConnected;
    *unc = it->second + path.substr(2);
    return err::kSuccess;
  }
  int fullPathCalls = 0;

 private:
  struct Listing {
    std::vector<TFindData> entries;
    std::size_t next = 0;
  };

  static std::string Strip(const std::string& path) {
    std::string p = path;
    while (p.size() > 3 && p.back() == '\\') p.pop_back();
    return p;
  }
  static bool IsRoot(const std::string& folder) {
    return (folder.size() <= 3 && folder.size() >= 2 && folder[1] == ':') ||
           (std::count(folder.begin(), folder.end(), '\\') <= 3 && folder.rfind("\\\\", 0) == 0);
  }
  static std::string Key(const std::string& path) {
    std::string k = FoldAsciiLower(path);
    if (k.size() == 2 && k[1] == ':') k += '\\';
    return k;
  }
  TFindData* Find(const std::string& path) {
    auto it = entries_.find(Key(Strip(path)));
    return it == entries_.end() ? nullptr : &it->second;
  }
  void EnsureFolder(const std::string& folder) {
    const std::string key = Key(folder);
    if (folders_.count(key)) return;
    folders_[key];
    if (IsRoot(folder)) return;
    Add(folder, attr::kDirectory, 0, 0);
  }
  void Add(const std::string& path, std::uint32_t attributes, std::int64_t size,
           std::uint64_t writeTime) {
    const std::size_t split = path.rfind('\\');
    std::string parent = path.substr(0, split);
    if (parent.size() == 2) parent += '\\';
    EnsureFolder(parent);
    const std::string key = Key(path);
    TFindData d;
    d.Attributes = attributes;
    d.Name = path.substr(split + 1);
    d.SizeHigh = static_cast<std::uint32_t>(static_cast<std::uint64_t>(size) >> 32);
    d.SizeLow = static_cast<std::uint32_t>(size);
    d.CreationTime = d.LastWriteTime = d.LastAccessTime = writeTime;
    if (!entries_.count(key)) folders_[Key(parent)].push_back(key);
    entries_[key] = d;
    if (attributes & attr::kDirectory) folders_[key];
  }

  AnsiCodePage cp_;
  std::map<std::string, TFindData> entries_;                  // by folded full path
  std::map<std::string, std::vector<std::string>> folders_;   // folded folder -> children keys
  std::vector<std::string> denied_;
  std::map<Handle, std::unique_ptr<Listing>> listings_;
  Handle nextHandle_ = 1;
};

// Local time = UTC + a fixed offset; counts conversions.
class FixedOffsetTime final : public LocalTimePort {
 public:
  explicit FixedOffsetTime(int offsetMinutes = 60) : offsetMinutes_(offsetMinutes) {}
  int conversions = 0;

  WinError ToLocalFields(std::uint64_t fileTime, LocalTimeFields* f) override {
    ++conversions;
    const long long ms = static_cast<long long>(fileTime / 10000) + offsetMinutes_ * 60000LL;
    const long long days = ms / 86400000LL;
    const long long dayMs = ms % 86400000LL;
    const CivilDate date = CivilFromDays(days - 134774);  // 1601-01-01 is 134774 days before 1970
    f->Year = date.year;
    f->Month = date.month;
    f->Day = date.day;
    f->Hour = static_cast<int>(dayMs / 3600000);
    f->Minute = static_cast<int>(dayMs / 60000 % 60);
    f->Second = static_cast<int>(dayMs / 1000 % 60);
    f->Milliseconds = static_cast<int>(dayMs % 1000);
    (void)days;
    return err::kSuccess;
  }

 private:
  int offsetMinutes_;
};

}  // namespace kestrava::testing
