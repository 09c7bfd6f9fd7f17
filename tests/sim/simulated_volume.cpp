// Building a simulated volume, looking its items up, opening them, and the checks tests make.
#include "tests/sim/simulated_volume.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <utility>

#include "common/wide.h"
#include "tests/sim/sim_names.h"

namespace kestrava::sim {
namespace {

std::string ExtentText(const Extent& e) {
  return std::to_string(e.lcn) + ":" + std::to_string(e.count);
}

// Sorts runs and joins those that overlap or touch.
std::vector<Extent> Normalized(std::vector<Extent> runs) {
  std::sort(runs.begin(), runs.end(),
            [](const Extent& a, const Extent& b) { return a.lcn < b.lcn; });
  std::vector<Extent> out;
  for (const Extent& r : runs) {
    if (!out.empty() && out.back().lcn + static_cast<std::int64_t>(out.back().count) >= r.lcn) {
      const std::int64_t end =
          std::max(out.back().lcn + static_cast<std::int64_t>(out.back().count),
                   r.lcn + static_cast<std::int64_t>(r.count));
      out.back().count = static_cast<std::uint64_t>(end - out.back().lcn);
    } else {
      out.push_back(r);
    }
  }
  return out;
}

// Half a billion clusters is what benchmarks use; far more would not fit a 32-bit process (or, in
// 64 bits, any machine), and the bitmap's word count must fit a size_t.
constexpr std::uint64_t kMaxClusters =
    std::min<std::uint64_t>(std::uint64_t{1} << 40, static_cast<std::uint64_t>(SIZE_MAX / 16) * 8);

std::uint64_t CheckedClusters(std::uint64_t clusters) {
  if (clusters > kMaxClusters)
    throw std::invalid_argument(std::to_string(clusters) + " clusters are more than the " +
                                std::to_string(kMaxClusters) + " a simulation holds");
  return clusters;
}

}  // namespace

SimulatedVolume::SimulatedVolume(char drive, std::uint64_t clusters, std::uint32_t clusterSize)
    : drive_(UpperAscii(drive)), clusterSize_(clusterSize), bitmap_(CheckedClusters(clusters)) {
  if (drive_ < 'A' || drive_ > 'Z') throw std::invalid_argument("drive must be a letter");
  if (clusters == 0) throw std::invalid_argument("a volume needs clusters");

  if (clusterSize == 0) throw std::invalid_argument("cluster size must not be 0");
  currentDirectory = std::string(1, drive_) + ":\\";
  Item root;
  root.name = std::string(1, drive_) + ":";
  root.isFolder = true;
  items_.push_back(std::move(root));
}

bool SimulatedVolume::Meets(const std::vector<Extent>& ranges, std::uint64_t lcn,
                            std::uint64_t count) {
  for (const Extent& r : ranges) {
    const std::uint64_t start = static_cast<std::uint64_t>(r.lcn);
    if (start < lcn + count && lcn < start + r.count) return true;
  }
  return false;
}

bool SimulatedVolume::Blocked(std::uint64_t lcn, std::uint64_t count) const {
  return Meets(reserved_, lcn, count) || Meets(taken_, lcn, count);
}

void SimulatedVolume::CheckRangeFree(std::uint64_t lcn, std::uint64_t count,
                                     const std::string& what) const {
  const std::string range = what + " range " + std::to_string(lcn) + ":" + std::to_string(count);
  if (count == 0) throw std::invalid_argument(what + " range of 0 clusters");
  if (lcn >= Clusters() || count > Clusters() - lcn)
    throw std::invalid_argument(range + " lies past the volume end");
  if (bitmap_.AnySet(lcn, count))
    throw std::invalid_argument(range + " overlaps clusters already in use");
  if (Blocked(lcn, count))
    throw std::invalid_argument(range + " overlaps clusters reserved or taken");
}

void SimulatedVolume::MarkUsed(std::uint64_t lcn, std::uint64_t count) {
  CheckRangeFree(lcn, count, "used");
  bitmap_.Set(lcn, count);
  usedByNothing_.push_back({static_cast<std::int64_t>(lcn), count});
}

void SimulatedVolume::MarkReserved(std::uint64_t lcn, std::uint64_t count) {
  CheckRangeFree(lcn, count, "reserved");
  reserved_.push_back({static_cast<std::int64_t>(lcn), count});
}

void SimulatedVolume::MarkTaken(std::uint64_t lcn, std::uint64_t count) {
  CheckRangeFree(lcn, count, "taken");
  taken_.push_back({static_cast<std::int64_t>(lcn), count});
  if (takenInUse_) bitmap_.Set(lcn, count);
}

void SimulatedVolume::SetMftZone(std::uint64_t lcn, std::uint64_t count) {
  if (mftZone_) throw std::invalid_argument("a volume has one MFT zone");
  if (count == 0) throw std::invalid_argument("an MFT zone of 0 clusters");
  if (lcn >= Clusters() || count > Clusters() - lcn)
    throw std::invalid_argument("MFT zone " + std::to_string(lcn) + ":" + std::to_string(count) +
                                " lies past the volume end");
  mftZone_ = Extent{static_cast<std::int64_t>(lcn), count};
}

// The other program takes its clusters: from now on every answer shows them in use.
void SimulatedVolume::TakeClusters() {
  if (takenInUse_) return;
  takenInUse_ = true;
  for (const Extent& t : taken_) bitmap_.Set(static_cast<std::uint64_t>(t.lcn), t.count);
}

void SimulatedVolume::AddFolder(const std::string& path, const ItemLayout& layout) {
  AddItem(path, true, layout);
}

void SimulatedVolume::AddFile(const std::string& path, const ItemLayout& layout) {
  AddItem(path, false, layout);
}

void SimulatedVolume::CheckClustersFree(const std::vector<Extent>& extents, const std::string& path,
                                        bool elsewhere) const {
  std::vector<Extent> real;
  std::uint64_t vcns = 0;  // the last VCN must be an LCN-sized signed number, as in NTFS
  for (const Extent& e : extents) {
    if (e.count == 0) throw std::invalid_argument(path + ": extent " + ExtentText(e) + " is empty");
    if (e.count > static_cast<std::uint64_t>(INT64_MAX) - vcns)
      throw std::invalid_argument(path + ": more VCNs than a file can have");
    vcns += e.count;
    if (e.lcn == kSparseLcn || elsewhere) continue;  // another volume's clusters are its own
    if (e.lcn < 0)
      throw std::invalid_argument(path + ": extent " + ExtentText(e) + " has a bad LCN");
    const std::uint64_t lcn = static_cast<std::uint64_t>(e.lcn);
    if (lcn >= Clusters() || e.count > Clusters() - lcn)
      throw std::invalid_argument(path + ": extent " + ExtentText(e) + " lies past the volume end");
    if (bitmap_.AnySet(lcn, e.count))
      throw std::invalid_argument(path + ": extent " + ExtentText(e) +
                                  " overlaps clusters already in use");
    if (Blocked(lcn, e.count))
      throw std::invalid_argument(path + ": extent " + ExtentText(e) +
                                  " overlaps clusters reserved or taken");
    real.push_back(e);
  }
  std::sort(real.begin(), real.end(),
            [](const Extent& a, const Extent& b) { return a.lcn < b.lcn; });
  for (std::size_t i = 1; i < real.size(); ++i) {
    if (real[i - 1].lcn + static_cast<std::int64_t>(real[i - 1].count) > real[i].lcn)
      throw std::invalid_argument(path + ": extents " + ExtentText(real[i - 1]) + " and " +
                                  ExtentText(real[i]) + " overlap");
  }
}

void SimulatedVolume::AddItem(const std::string& path, bool isFolder, const ItemLayout& layout) {
  std::vector<std::string> parts;
  if (!SplitAbsolutePath(path, drive_, &parts))
    throw std::invalid_argument(path + ": not a full path on drive " + std::string(1, drive_));
  if (parts.empty()) throw std::invalid_argument(path + ": the root exists");
  // Below a junction, the items are those of the volume it leads to.
  bool elsewhere = layout.junction;
  {
    std::size_t at = kRoot;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
      auto it = items_[at].children.find(UpperAscii(parts[i]));
      if (it == items_[at].children.end()) break;
      at = it->second;
      elsewhere = elsewhere || items_[at].layout.junction;
    }
  }
  CheckClustersFree(layout.extents, path, elsewhere);
  if (layout.size) {
    if (isFolder) throw std::invalid_argument(path + ": a folder has no size of its own");
    std::uint64_t vcns = 0;
    for (const Extent& e : layout.extents) vcns += e.count;
    // The cluster of the last byte must be allocated (the form cannot overflow).
    if (!layout.extents.empty() && *layout.size > 0 && (*layout.size - 1) / clusterSize_ >= vcns)
      throw std::invalid_argument(path + ": size " + std::to_string(*layout.size) +
                                  " lies past the allocation");
  }

  // Find where the path leaves the tree before changing anything, so a refused item leaves the
  // volume as it was.
  std::size_t at = kRoot;
  std::size_t known = 0;
  for (; known < parts.size(); ++known) {
    const Item& folder = items_[at];
    if (!folder.isFolder)
      throw std::invalid_argument(path + ": " + PathOf(at) + " is a file, not a folder");
    auto it = folder.children.find(UpperAscii(parts[known]));
    if (it == folder.children.end()) break;
    at = it->second;
  }
  if (known == parts.size()) {
    Item& existing = items_[at];
    if (!(existing.implicit && isFolder)) throw std::invalid_argument(path + ": exists already");
    existing.implicit = false;
    existing.layout = layout;
  } else {
    for (std::size_t i = known; i < parts.size(); ++i) {
      Item item;
      item.id = items_.size();
      item.parent = at;
      item.name = parts[i];
      const bool last = i + 1 == parts.size();
      item.isFolder = last ? isFolder : true;
      item.implicit = !last;
      if (last) item.layout = layout;
      if (item.isFolder) item.layout.attributes |= attr::kDirectory;
      items_[at].children[UpperAscii(item.name)] = item.id;
      at = item.id;
      items_.push_back(std::move(item));
    }
  }
  Item& added = items_[at];
  if (added.isFolder) added.layout.attributes |= attr::kDirectory;
  if (added.layout.junction) added.layout.attributes |= attr::kReparsePoint;
  added.elsewhere = elsewhere;
  if (elsewhere) return;  // not this volume's clusters
  for (const Extent& e : added.layout.extents) {
    if (e.lcn != kSparseLcn) bitmap_.Set(static_cast<std::uint64_t>(e.lcn), e.count);
  }
  TagExtents(added);
}

std::uint32_t SimulatedVolume::TagOf(std::size_t id, std::uint64_t vcn) {
  std::uint64_t x = (id + 1) * 0x9E3779B97F4A7C15ULL ^ (vcn + 1) * 0xC2B2AE3D27D4EB4FULL;
  x ^= x >> 31;
  x *= 0xBF58476D1CE4E5B9ULL;
  return static_cast<std::uint32_t>(x >> 32) | 1;  // never 0, what an unwritten cluster reads
}

void SimulatedVolume::TagExtents(const Item& item) {
  std::uint64_t vcn = 0;
  for (const Extent& e : item.layout.extents) {
    if (e.lcn != kSparseLcn) {
      for (std::uint64_t i = 0; i < e.count; ++i)
        tags_.Set(static_cast<std::uint64_t>(e.lcn) + i, TagOf(item.id, vcn + i));
    }
    vcn += e.count;
  }
}

SimulatedVolume::Lookup SimulatedVolume::Find(const std::string& path) const {
  std::vector<std::string> parts;
  if (!SplitAbsolutePath(path, drive_, &parts)) return {err::kPathNotFound, 0};
  std::size_t at = kRoot;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const Item& folder = items_[at];
    const bool last = i + 1 == parts.size();
    if (!folder.isFolder) return {err::kPathNotFound, 0};
    auto it = folder.children.find(UpperAscii(parts[i]));
    if (it == folder.children.end()) return {last ? err::kFileNotFound : err::kPathNotFound, 0};
    at = it->second;
  }
  return {err::kSuccess, at};
}

std::string SimulatedVolume::PathOf(std::size_t id) const {
  if (id == kRoot) return items_[kRoot].name + "\\";
  const std::size_t parent = items_[id].parent;
  return PathOf(parent) + (parent == kRoot ? "" : "\\") + items_[id].name;
}

// --- Opening ---

VolumeDevicePort::Handle SimulatedVolume::NewHandle(std::size_t item, ItemAccess access) {
  const Handle h = nextHandle_;
  nextHandle_ += 4;  // like Windows' handles: distinct, never 0, multiples of 4
  handles_[h] = {item, access};
  return h;
}

WinError SimulatedVolume::OpenVolume(const std::string& volumePath, Handle* volume) {
  // Exactly "\\.\C:": a trailing backslash would name the root folder, not the device.
  if (volumePath.size() != 6 || volumePath.compare(0, 4, "\\\\.\\") != 0 ||
      UpperAscii(volumePath[4]) != drive_ || volumePath[5] != ':')
    return err::kFileNotFound;
  *volume = NewHandle(kVolume);
  return err::kSuccess;
}

WinError SimulatedVolume::Open(const std::string& path, bool isFolder, ItemAccess access,
                               Handle* item) {
  const Lookup found = Find(path);
  if (found.error != err::kSuccess) return found.error;
  const Item& it = items_[found.item];
  if (it.layout.denied) return err::kAccessDenied;
  // CreateFile opens a directory only with FILE_FLAG_BACKUP_SEMANTICS.
  if (it.isFolder && !isFolder) return err::kAccessDenied;
  if (it.layout.locked) return 32;  // ERROR_SHARING_VIOLATION
  // The holder shares nothing, but sharing governs only data access: reading attributes is free.
  if (it.layout.inUse && access == ItemAccess::kAttributesAndData) return 32;
  *item = NewHandle(found.item, access);
  return err::kSuccess;
}

WinError SimulatedVolume::OpenItemToInspect(const std::string& path, bool isFolder, Handle* item) {
  return Open(path, isFolder, ItemAccess::kAttributes, item);
}

WinError SimulatedVolume::OpenItemToMove(const std::wstring& path, bool isFolder, ItemAccess access,
                                         Handle* item) {
  return Open(WideToAnsi(path), isFolder, access, item);
}

void SimulatedVolume::Close(Handle handle) {
  if (handles_.erase(handle) == 0) ++counters_.unknownCloses;
}

WinError SimulatedVolume::ClusterSize(const std::string& root, std::uint32_t* bytesPerCluster) {
  if (root.size() != 3 || UpperAscii(root[0]) != drive_ || root[1] != ':' || root[2] != '\\')
    return err::kPathNotFound;
  *bytesPerCluster = clusterSize_;
  return err::kSuccess;
}

// --- Inspection ---

std::vector<ItemInfo> SimulatedVolume::Items() const {
  std::vector<ItemInfo> out;
  std::vector<std::size_t> stack{kRoot};
  while (!stack.empty()) {
    const Item& item = items_[stack.back()];
    stack.pop_back();
    if (item.id != kRoot) {
      ItemInfo info;
      info.path = PathOf(item.id) + (item.isFolder ? "\\" : "");
      info.isFolder = item.isFolder;
      info.layout = item.layout;
      out.push_back(std::move(info));
    }
    for (auto it = item.children.rbegin(); it != item.children.rend(); ++it)
      stack.push_back(it->second);
  }
  return out;
}

std::vector<Extent> SimulatedVolume::ExtentsOf(const std::string& path) const {
  const Lookup found = Find(path);
  if (found.error != err::kSuccess) throw std::invalid_argument(path + ": no such item");
  return items_[found.item].layout.extents;
}

bool SimulatedVolume::IsContiguous(const std::string& path) const {
  std::int64_t next = kSparseLcn;
  for (const Extent& e : ExtentsOf(path)) {
    if (e.lcn == kSparseLcn) continue;
    if (next != kSparseLcn && e.lcn != next) return false;
    next = e.lcn + static_cast<std::int64_t>(e.count);
  }
  return true;
}

std::vector<Extent> SimulatedVolume::UsedByNothing() const { return Normalized(usedByNothing_); }
std::vector<Extent> SimulatedVolume::Reserved() const { return Normalized(reserved_); }
std::vector<Extent> SimulatedVolume::Taken() const { return Normalized(taken_); }

CheckResult SimulatedVolume::Check() const {
  CheckResult result;
  ClusterBitmap expected(Clusters());
  // Each run claims its clusters once: +1 where it begins, -1 where it ends.
  std::vector<std::pair<std::int64_t, int>> edges;
  auto claim = [&](std::int64_t lcn, std::uint64_t count) {
    expected.Set(static_cast<std::uint64_t>(lcn), count);
    edges.emplace_back(lcn, 1);
    edges.emplace_back(lcn + static_cast<std::int64_t>(count), -1);
  };
  for (const Extent& r : usedByNothing_) claim(r.lcn, r.count);
  if (takenInUse_) {
    for (const Extent& t : taken_) claim(t.lcn, t.count);  // the other program's
  }
  for (const Extent& h : held_) expected.Set(static_cast<std::uint64_t>(h.lcn), h.count);
  for (const Item& item : items_) {
    if (item.elsewhere) continue;  // another volume's
    std::uint64_t vcn = 0;
    for (const Extent& e : item.layout.extents) {
      if (e.lcn != kSparseLcn) {
        claim(e.lcn, e.count);
        for (std::uint64_t i = 0; i < e.count && result.contentOk; ++i) {
          if (tags_.Get(static_cast<std::uint64_t>(e.lcn) + i) != TagOf(item.id, vcn + i))
            result.contentOk = false;
        }
      }
      vcn += e.count;
    }
  }
  std::sort(edges.begin(), edges.end());  // at one LCN, ends (-1) before beginnings
  int depth = 0;
  std::int64_t from = 0;
  for (const auto& [lcn, step] : edges) {
    if (depth >= 2) result.sharedClusters += static_cast<std::uint64_t>(lcn - from);
    depth += step;
    from = lcn;
  }
  result.bitmapOk = expected == bitmap_;
  return result;
}

bool SimulatedVolume::operator==(const SimulatedVolume& other) const {
  if (drive_ != other.drive_ || clusterSize_ != other.clusterSize_ || bitmap_ != other.bitmap_)
    return false;
  const std::vector<ItemInfo> mine = Items(), theirs = other.Items();
  if (UsedByNothing() != other.UsedByNothing() || Reserved() != other.Reserved() ||
      Taken() != other.Taken() || mftZone_ != other.mftZone_ ||
      partialMoves != other.partialMoves || shortBitmapAnswers != other.shortBitmapAnswers ||
      mine.size() != theirs.size())
    return false;
  for (std::size_t i = 0; i < mine.size(); ++i) {
    if (mine[i].path != theirs[i].path || mine[i].isFolder != theirs[i].isFolder ||
        !(mine[i].layout == theirs[i].layout))
      return false;
  }
  return true;
}

}  // namespace kestrava::sim
