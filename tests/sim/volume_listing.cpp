// The simulated volume as the file finder sees it: folder listings in NTFS order and path
// expansion.
#include <algorithm>

#include "common/paths.h"
#include "common/wildcard.h"
#include "tests/sim/sim_names.h"
#include "tests/sim/simulated_volume.h"

namespace kestrava::sim {

TFindData SimulatedVolume::FindDataOf(const Item& item) const {
  TFindData d;
  d.Name = item.name;
  d.Attributes = item.layout.attributes;
  if (d.Attributes == 0) d.Attributes = attr::kNormal;  // what Windows reports for no attributes
  if (!item.isFolder) {
    std::uint64_t vcns = 0;
    for (const Extent& e : item.layout.extents) vcns += e.count;
    const std::uint64_t size = item.layout.size.value_or(vcns * clusterSize_);
    d.SizeHigh = static_cast<std::uint32_t>(size >> 32);
    d.SizeLow = static_cast<std::uint32_t>(size);
  }
  return d;
}

WinError SimulatedVolume::FindFirst(const std::string& pattern, TFindData& data,
                                    DirectoryPort::Handle* handle, FindScope scope) {
  std::string full;
  if (FullPath(pattern, &full) != err::kSuccess) return err::kPathNotFound;
  const std::size_t split = full.rfind('\\');
  const Lookup folder = Find(full.substr(0, split + 1));
  if (folder.error != err::kSuccess || !items_[folder.item].isFolder) return err::kPathNotFound;
  const Item& listed = items_[folder.item];
  if (listed.layout.denied) return err::kAccessDenied;
  // Listing reads the folder's data, which a holder that shares nothing refuses too.
  if (listed.layout.locked || listed.layout.inUse) return 32;  // ERROR_SHARING_VIOLATION

  std::string mask = UpperAscii(full.substr(split + 1));
  if (mask == "*.*") mask = "*";  // the old form of "everything", names without a dot too
  Listing listing;
  // Limited to folders, a listing may leave out files and the dot entries; this one does, so
  // that callers cannot come to depend on either.
  const bool foldersOnly = scope == FindScope::kFoldersOnly;
  if (folder.item != kRoot && !foldersOnly) {
    for (const char* dots : {".", ".."}) {
      if (!MatchesWildcard(dots, mask)) continue;
      TFindData d;
      d.Name = dots;
      d.Attributes = attr::kDirectory;
      listing.entries.push_back(d);
    }
  }
  for (const auto& [upperName, id] : listed.children) {
    if (foldersOnly && !items_[id].isFolder) continue;
    if (MatchesWildcard(upperName, mask)) listing.entries.push_back(FindDataOf(items_[id]));
  }
  if (listing.entries.empty()) return err::kFileNotFound;
  data = listing.entries[0];
  listing.next = 1;
  *handle = nextFind_++;
  finds_[*handle] = std::move(listing);
  return err::kSuccess;
}

WinError SimulatedVolume::FindNext(DirectoryPort::Handle handle, TFindData& data) {
  auto it = finds_.find(handle);
  if (it == finds_.end()) return err::kInvalidHandle;
  Listing& l = it->second;
  if (l.next >= l.entries.size()) return err::kNoMoreFiles;
  data = l.entries[l.next++];
  return err::kSuccess;
}

void SimulatedVolume::FindClose(DirectoryPort::Handle handle) {
  if (finds_.erase(handle) == 0) ++counters_.unknownCloses;
}

// GetFullPathName: "/" becomes "\", "." and ".." and doubled separators are resolved, a trailing
// backslash stays; a path without a drive is taken on the current directory's drive, a relative
// one below the current directory. A full plain path comes back unchanged.
WinError SimulatedVolume::FullPath(const std::string& path, std::string* full) {
  if (path.empty()) return err::kPathNotFound;
  std::string p(path);
  std::replace(p.begin(), p.end(), '/', '\\');
  if (p.compare(0, 2, "\\\\") == 0) {  // a UNC path is not this volume's to resolve
    *full = p;
    return err::kSuccess;
  }
  std::string drive, rest;
  if (p.size() >= 2 && p[1] == ':') {
    drive = p.substr(0, 2);
    rest = p.substr(2);
    // "C:x" is relative to drive C's current directory: ours on our drive, the root elsewhere.
    if (rest.empty() || rest[0] != '\\')
      rest = (UpperAscii(drive[0]) == UpperAscii(currentDirectory[0]) ? currentDirectory.substr(2)
                                                                      : std::string("\\")) +
             rest;
  } else if (p[0] == '\\') {
    drive = currentDirectory.substr(0, 2);
    rest = p;
  } else {
    drive = currentDirectory.substr(0, 2);
    rest = currentDirectory.substr(2);
    if (rest.empty() || rest.back() != '\\') rest += '\\';
    rest += p;
  }
  const std::vector<std::string> parts = CollapsePathParts(rest, '\\');
  std::string result = drive;
  for (const std::string& part : parts) result += "\\" + part;
  if (parts.empty() || rest.back() == '\\') result += "\\";
  *full = result;
  return err::kSuccess;
}

WinError SimulatedVolume::UniversalName(const std::string& path, std::string* unc) {
  return err::kNotConnected;  // a simulated volume is a local drive
}

}  // namespace kestrava::sim
