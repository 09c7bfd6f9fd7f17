#include "defrag/fast_defrag_engine.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>
#include <new>

#include "common/ascii_fold.h"
#include "common/debug_log.h"
#include "common/error.h"
#include "common/paths.h"
#include "common/scope_guard.h"
#include "common/wide.h"
#include "defrag/cluster_size.h"
#include "defrag/fsctl_layout.h"
#include "defrag/retrieval_pointers.h"
#include "defrag/volume_open.h"
#include "search/find_file.h"

namespace kestrava {
namespace {

// Extent reads per item: enough for 4,095 extents a call in the 64 KiB buffer.
constexpr int kInspectCallLimit = 1025;
constexpr int kCountCallLimit = 1001;
constexpr int kMoveCallLimit = 1025;
// The most clusters one FSCTL_MOVE_FILE call moves: a call cannot be interrupted, so an abort
// waits at most this long.
constexpr std::uint32_t kPieceClusters = 64;
// A compressed or sparse file is moved by NTFS in units of 16 clusters: a move must start on a
// unit's first cluster, and it carries the unit's real clusters back to back.
constexpr std::int64_t kUnitClusters = 16;
// The bytes of a bitmap answer that show whether a piece's target was taken: the head and 64
// bytes, 512 clusters, so that a starting LCN rounded down still leaves the piece in the answer.
constexpr std::uint32_t kTargetBitmapLength = 16 + 64;

// Clusters of room to grow a file of this name gets in its run, by its extension.
std::int64_t GrowthRoomClusters(const std::string& path) {
  const std::size_t nameStart = path.find_last_of("\\:") + 1;  // npos + 1 == 0
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot < nameStart) return 0;
  const std::string extension = FoldAsciiLower(path.substr(dot));
  if (extension == ".txt") return 8;
  if (extension == ".doc" || extension == ".log") return 128;
  return 0;
}

// The first character of a path, which the engine takes for its drive letter.
char DriveLetter(const std::string& path) { return path.empty() ? '\0' : path[0]; }

[[noreturn]] void RaiseNoFreeSpace() { throw KestravaError("Fail to get the free space!"); }

// Opens an item to read its extents; a failed open means the item cannot be examined.
bool OpenToInspect(VolumeDevicePort& volume, const std::string& path, bool isFile,
                   DeviceHandle& item) {
  return volume.OpenItemToInspect(path, !isFile, item.Put()) == err::kSuccess;
}

// Whether a bitmap read shows any cluster of [lcn, lcn + count) in use now. False when the volume
// does not say: a target that cannot be shown taken is not held against the run.
bool TargetTaken(VolumeDevicePort& volume, VolumeDevicePort::Handle device, std::int64_t lcn,
                 std::uint32_t count) {
  unsigned char input[fsctl::kStartingNumberLength];
  fsctl::WriteInt64(input, 0, lcn);
  unsigned char answer[kTargetBitmapLength] = {};
  std::uint32_t returned = 0;
  const WinError error = volume.Control(device, fsctl::kGetVolumeBitmap, input, sizeof input,
                                        answer, sizeof answer, &returned);
  if (error != err::kSuccess && error != err::kMoreData) return false;
  const std::int64_t base = fsctl::ReadInt64(answer, fsctl::kBitmapStartingLcnOffset);
  const std::int64_t size = fsctl::ReadInt64(answer, fsctl::kBitmapSizeOffset);
  const std::int64_t written =
      (std::min<std::int64_t>(returned, sizeof answer) - std::int64_t{fsctl::kBitmapOffset}) * 8;
  if (base < 0 || base > lcn) return false;
  for (std::int64_t c = lcn - base; c < lcn - base + count && c < written && c < size; ++c) {
    if ((answer[fsctl::kBitmapOffset + c / 8] >> (c % 8)) & 1) return true;
  }
  return false;
}

// Moves an item's real clusters, in VCN order, to the front of its run: the run gives up the
// clusters before each move, so the next piece and the next item land right behind. A piece that
// cannot be moved raises. An item NTFS moves in units gets its pieces gathered into whole units
// that begin on a unit boundary, at most 64 clusters a call.
class PieceMover {
 public:
  PieceMover(VolumeDevicePort& volume, VolumeDevicePort::Handle device,
             VolumeDevicePort::Handle item, const std::string& path, TFreeRun& run, bool inUnits,
             bool& noFreeSpace)
      : volume_(volume),
        device_(device),
        item_(item),
        path_(path),
        run_(run),
        inUnits_(inUnits),
        noFreeSpace_(noFreeSpace) {}

  // The piece [vcn, vcn + count) of a real extent, count at most 64.
  void Real(std::int64_t vcn, std::uint32_t count) {
    if (!inUnits_) {
      Move(vcn, count, count);
      return;
    }
    const std::int64_t end = vcn + count;
    while (vcn < end) {
      const std::int64_t unit = vcn - vcn % kUnitClusters;
      // Differences only: a map may end at the largest VCN, where a unit's end is no number.
      const std::int64_t partEnd = unit + std::min(end - unit, kUnitClusters);
      if (pending_ > 0 && units_[pending_ - 1].vcn != unit) {
        // A piece goes on into the next unit only from a unit wholly real, so that it spans no
        // range without clusters but at the start of its last unit; four units make 64 clusters.
        const Unit& last = units_[pending_ - 1];
        if (unit - last.vcn != kUnitClusters || last.real != kUnitClusters ||
            pending_ == kUnitsPerPiece) {
          Flush();
        }
      }
      if (pending_ == 0 || units_[pending_ - 1].vcn != unit) units_[pending_++] = {unit, 0, 0};
      units_[pending_ - 1].real += static_cast<std::uint32_t>(partEnd - vcn);
      units_[pending_ - 1].end = partEnd;
      vcn = partEnd;
    }
  }

  // Moves the units gathered so far: from the first one's boundary to the last real cluster (the
  // file system takes the rest of that unit with it).
  void Flush() {
    if (pending_ == 0) return;
    std::uint32_t real = 0;
    for (std::size_t i = 0; i < pending_; ++i) real += units_[i].real;
    const std::int64_t first = units_[0].vcn;
    const std::int64_t last = units_[pending_ - 1].end;
    pending_ = 0;
    Move(first, static_cast<std::uint32_t>(last - first), real);
  }

  // Clusters moved so far.
  std::uint64_t Moved() const { return moved_; }

 private:
  static constexpr std::size_t kUnitsPerPiece = kPieceClusters / kUnitClusters;
  struct Unit {
    std::int64_t vcn;    // its first VCN
    std::uint32_t real;  // its real clusters seen
    std::int64_t end;    // the end of its last real cluster
  };

  // One FSCTL_MOVE_FILE of count VCNs from vcn, whose clusters real clusters of the run take.
  void Move(std::int64_t vcn, std::uint32_t count, std::uint32_t clusters) {
    // The run was chosen for the size measured before; an item that has more clusters now (it
    // grew, or the volume answers otherwise) must not be moved beyond the run's end.
    if (run_.ClusterCount < clusters) {
      noFreeSpace_ = true;
      RaiseNoFreeSpace();
    }
    const std::int64_t target = run_.StartLcn;
    run_.StartLcn += clusters;
    run_.ClusterCount -= clusters;

    unsigned char data[fsctl::kMoveFileDataLength] = {};
    // The handle zero-extended to 8 bytes: in a 32-bit process, the handle and its padding.
    fsctl::WriteInt64(data, fsctl::kMoveHandleOffset, static_cast<std::int64_t>(item_));
    fsctl::WriteInt64(data, fsctl::kMoveStartingVcnOffset, vcn);
    fsctl::WriteInt64(data, fsctl::kMoveStartingLcnOffset, target);
    fsctl::WriteUInt32(data, fsctl::kMoveClusterCountOffset, count);
    std::uint32_t returned = 0;
    const WinError error =
        volume_.Control(device_, fsctl::kMoveFile, data, sizeof data, nullptr, 0, &returned);
    if (error == err::kSuccess) {
      moved_ += clusters;
      return;
    }
    DebugLog("PrevVCN = " + std::to_string(vcn));
    DebugLog("FreeLcn = " + std::to_string(run_.StartLcn));
    DebugLog("VCNCount = " + std::to_string(count));
    // A target the file system refuses (an area it reserves), or one another program took since
    // the bitmap was read, is no free space: every later item would fail on it too, so the run is
    // set aside for the rest of the folder run. Access denied to a target still free is the
    // item's own refusal, and the run stays.
    if (error == err::kInvalidParameter ||
        (error == err::kAccessDenied && TargetTaken(volume_, device_, target, clusters))) {
      run_.ClusterCount = 0;
    }
    throw KestravaError("Move file " + path_ +
                        " error: " + std::to_string(static_cast<std::int32_t>(error)));
  }

  VolumeDevicePort& volume_;
  VolumeDevicePort::Handle device_;
  VolumeDevicePort::Handle item_;
  const std::string& path_;
  TFreeRun& run_;
  bool inUnits_;
  bool& noFreeSpace_;
  Unit units_[kUnitsPerPiece] = {};
  std::size_t pending_ = 0;
  std::uint64_t moved_ = 0;
};

// total + bytes, held at the largest size when a volume's answers claim more than any file has.
std::int64_t AddBytes(std::int64_t total, std::uint64_t bytes) {
  constexpr std::int64_t kMost = std::numeric_limits<std::int64_t>::max();
  if (total >= 0 && bytes > static_cast<std::uint64_t>(kMost - total)) return kMost;
  return total + static_cast<std::int64_t>(std::min<std::uint64_t>(bytes, kMost));
}

// Whether an extent at lcn of length clusters ends where next begins. An extent that would end
// past the largest LCN (a volume's answer, not a place on it) is followed by nothing.
bool Follows(std::int64_t lcn, std::uint32_t length, std::int64_t next) {
  return lcn <= std::numeric_limits<std::int64_t>::max() - length && lcn + length == next;
}

// Whether the real extents of an open item's map, read anew, each begin where the one before
// ended. A map that cannot be read is taken as it was meant to be: contiguous.
bool MapContiguous(VolumeDevicePort& volume, VolumeDevicePort::Handle item, unsigned char* buffer) {
  TExtent last;  // the last real extent, once there is one
  bool contiguous = true;
  ForEachExtentOfItem(volume, item, buffer, kExtentBufferLength, kInspectCallLimit,
                      [&](const TExtent& extent, bool) {
                        if (!extent.Real()) return true;
                        if (last.Real() && !Follows(last.Lcn, last.Length, extent.Lcn)) {
                          contiguous = false;
                        }
                        last = extent;
                        return contiguous;
                      });
  return contiguous;
}

}  // namespace

TFastDefragEngine::TFastDefragEngine(const DefragPorts& ports) : ports_(ports) {}

unsigned char* TFastDefragEngine::ExtentBuffer() {
  // Cleared once: bytes a volume claims to have returned but did not write read as zeros or as an
  // earlier answer.
  if (!extentBuffer_) extentBuffer_.reset(new unsigned char[kExtentBufferLength]());
  return extentBuffer_.get();
}

bool TFastDefragEngine::LearnClusterSize(const std::string& path) {
  if (ClusterSize == 0) ClusterSize = GetVolumeClusterSize(*ports_.volume, path.c_str());
  return ClusterSize != 0;
}

bool TFastDefragEngine::ScanFreeSpace(char drive) {
  return kestrava::ScanFreeSpace(*ports_.volume, drive, FreeRuns);
}

TFreeRun* TFastDefragEngine::FindFreeRun(bool rescan, char drive, std::uint32_t needed) {
  if (rescan) {
    FreeRuns.clear();
    if (!ScanFreeSpace(drive)) return nullptr;
  }
  return kestrava::FindFreeRun(FreeRuns, needed);
}

bool TFastDefragEngine::IsFileContiguous(const std::string& path, bool isFile, std::int64_t& size) {
  size = 0;
  examined_ = false;
  if (!LearnClusterSize(path)) return true;
  bool contiguous = true;
  try {
    VolumeDevicePort& volume = *ports_.volume;
    DeviceHandle item(volume);
    if (!OpenToInspect(volume, path, isFile, item)) return true;
    unsigned char* const buffer = ExtentBuffer();
    std::int64_t allocated = 0;
    // Adjacency is judged between the extents of one answer; a call that returns a single
    // extent has nothing to compare, and never clears a break found before.
    std::int64_t previousLcn = 0;
    std::uint32_t previousLength = 0;
    ForEachExtentOfItem(volume, item.Get(), buffer, kExtentBufferLength, kInspectCallLimit,
                        [&](const TExtent& extent, bool firstOfAnswer) {
                          if (firstOfAnswer) previousLcn = previousLength = 0;
                          if (!extent.Real()) return true;
                          if (previousLcn != 0 && previousLength != 0 &&
                              !Follows(previousLcn, previousLength, extent.Lcn)) {
                            contiguous = false;
                          }
                          previousLcn = extent.Lcn;
                          previousLength = extent.Length;
                          allocated = AddBytes(allocated, extent.Length * ClusterSize);
                          return true;
                        });
    size = allocated;
    examined_ = true;
  } catch (const std::exception&) {
    size = 0;
    return true;
  }
  return contiguous;
}

std::uint32_t TFastDefragEngine::GetClusterCount(const std::string& path, bool isFile) {
  if (!LearnClusterSize(path)) return 0;
  try {
    VolumeDevicePort& volume = *ports_.volume;
    DeviceHandle item(volume);
    if (!OpenToInspect(volume, path, isFile, item)) return 0;
    unsigned char* const buffer = ExtentBuffer();
    std::uint32_t clusters = 0;
    ForEachExtentOfItem(volume, item.Get(), buffer, kExtentBufferLength, kCountCallLimit,
                        [&](const TExtent& extent, bool) {
                          if (extent.Real()) clusters += extent.Length;
                          return true;
                        });
    return clusters;
  } catch (const std::exception&) {
    return 0;
  }
}

bool TFastDefragEngine::DefragFile(const std::wstring& fileName, bool rescan, std::int64_t size,
                                   bool isFile, bool addGrowthRoom, bool& noFreeSpace) {
  return DefragItem({WideToAnsi(fileName), fileName}, rescan, size, isFile, {}, addGrowthRoom,
                    noFreeSpace);
}

bool TFastDefragEngine::DefragItem(const ItemPath& path, bool rescan, std::int64_t size,
                                   bool isFile, const ItemFacts& facts, bool addGrowthRoom,
                                   bool& noFreeSpace) {
  noFreeSpace = false;
  item_ = {path.wide, DefragItemOutcome::kFailed, 0, ""};
  if (!LearnClusterSize(path.ansi)) return false;
  if (size == 0 && !isFile) {
    size = static_cast<std::int64_t>(GetClusterCount(path.ansi, false) * ClusterSize);
  }
  if (size == 0) {
    DebugLog("Fail to get file size:" + path.ansi);
    item_.text = "Fail to get file size";
    return false;
  }
  if (addGrowthRoom && isFile) {
    size = AddBytes(size, GrowthRoomClusters(path.ansi) * ClusterSize);
  }
  try {
    const bool done = MoveItem(path, rescan, size, isFile, facts, noFreeSpace);
    if (done) item_.outcome = DefragItemOutcome::kMoved;
    if (!done && Aborted) item_.outcome = DefragItemOutcome::kAborted;
    if (!done && !Aborted) item_.text = "its clusters could not be listed";
    return done;
  } catch (const std::bad_alloc&) {
    DebugLog("Defrag File Error:Out of memory");
    item_.text = "Out of memory";
    return false;
  } catch (const std::exception& e) {
    DebugLog(std::string("Defrag File Error:") + e.what());
    if (noFreeSpace) item_.outcome = DefragItemOutcome::kNoFreeRun;
    item_.text = e.what();
    return false;
  }
}

bool TFastDefragEngine::MoveItem(const ItemPath& path, bool rescan, std::int64_t size, bool isFile,
                                 const ItemFacts& facts, bool& noFreeSpace) {
  const std::uint32_t attributes = facts.attributes;
  const std::uint32_t needed = static_cast<std::uint32_t>(
      std::max<std::int64_t>(size / static_cast<std::int64_t>(ClusterSize), 1));
  TFreeRun* run = FindFreeRun(rescan, DriveLetter(path.ansi), needed);
  if (run == nullptr) {
    noFreeSpace = true;
    RaiseNoFreeSpace();
  }
  DebugLog((isFile ? "New LCN for File:" : "New LCN for Folder:") + std::to_string(run->StartLcn));
  DebugLog("Lcn Count:" + std::to_string(run->ClusterCount));

  VolumeDevicePort& volume = *ports_.volume;
  DeviceHandle device(volume);
  OpenVolumeOrRaise(volume, DriveOfPath(path.ansi.c_str()), device);
  DeviceHandle item(volume);
  // An encrypted file's clusters move only through a handle that may read its data.
  const ItemAccess access = (attributes & attr::kEncrypted) != 0 ? ItemAccess::kAttributesAndData
                                                                 : ItemAccess::kAttributes;
  OpenItemToMoveOrRaise(volume, path.wide, path.ansi, !isFile, access, item);

  // The map is read a bounded page at a time and moved as it is read, so a file of any size
  // needs no more memory than a small one.
  unsigned char* const buffer = ExtentBuffer();
  if (Aborted) return false;
  const std::int64_t clusterBytes = static_cast<std::int64_t>(ClusterSize);
  const std::int64_t dataClusters = facts.dataBytes > 0 ? (facts.dataBytes - 1) / clusterBytes + 1
                                                        : std::numeric_limits<std::int64_t>::max();
  PieceMover mover(volume, device.Get(), item.Get(), path.ansi, *run,
                   isFile && (attributes & (attr::kCompressed | attr::kSparseFile)) != 0,
                   noFreeSpace);
  const auto countMoved = MakeScopeExit([&] { item_.clustersMoved = mover.Moved(); });
  const ExtentWalkEnd end = ForEachExtentOfItem(
      volume, item.Get(), buffer, kExtentBufferLength, kMoveCallLimit,
      [&](const TExtent& extent, bool) {
        std::int64_t vcn = extent.Vcn;
        std::uint32_t remaining = extent.Length;
        while (remaining > 0) {
          const std::uint32_t piece = std::min(remaining, kPieceClusters);
          remaining -= piece;
          DoProgress(path.wide);
          if (Aborted) return false;
          // Clusters kept past the end of a file's data cannot be moved (the file system
          // refuses them with 87, as it refuses a target): they stay where they are.
          if (extent.Real() && vcn < dataClusters) {
            mover.Real(
                vcn, static_cast<std::uint32_t>(std::min<std::int64_t>(piece, dataClusters - vcn)));
          }
          vcn += piece;
        }
        return true;
      });
  if (end == ExtentWalkEnd::kDenied || end == ExtentWalkEnd::kStopped) return false;
  mover.Flush();
  // NTFS may report a move done that it did only in part: what was moved is checked in the map.
  if (mover.Moved() > 0 && !MapContiguous(volume, item.Get(), buffer)) {
    item_.outcome = DefragItemOutcome::kMovedPartly;
    throw KestravaError("Moved only partly: " + path.ansi);
  }
  return true;
}

bool TFastDefragEngine::DefragFolder(const std::string& folder, bool filesOnly) {
  if (!ScanFreeSpace(DriveLetter(folder))) return false;
  SearchFolder(folder, filesOnly, [this](TFindFile& sender, const TFileDetails& fileInfo) {
    DoFileMatch(sender, fileInfo);
  });
  return true;
}

void TFastDefragEngine::SearchFolder(
    const std::string& folder, bool filesOnly,
    std::function<void(TFindFile& sender, const TFileDetails& fileInfo)> onMatch) {
  TFindFile finder(nullptr, ports_.search);
  finder.OnFileMatch = std::move(onMatch);
  finder.OnFolderChange = nullptr;
  finder.Threaded = false;  // the search runs here, and the match handler with it

  TFileCriteria& files = finder.Criteria().Files();
  files.SetFileName("*");
  files.SetLocation(folder + ";");
  files.SetSubfolders(true);
  // Every item matches, hidden and system ones and the folders themselves included (the finder
  // leaves those out by default); only files with filesOnly.
  TAttributesCriteria& attributes = finder.Criteria().Attributes();
  attributes.Clear();
  if (filesOnly) attributes.SetDirectory(fsAnyUnset);

  finder.Execute();  // an error of an item leaves here, after the search has ended
}

void TFastDefragEngine::DoFileMatch(TFindFile& sender, const TFileDetails& fileInfo) {
  ItemPath path;
  path.ansi = AddBackslash(fileInfo.Folder) + fileInfo.Name;
  path.wide = AnsiToWide(path.ansi);
  const bool isFile = (fileInfo.Attributes & attr::kDirectory) == 0;
  std::int64_t size = 0;
  if (IsFileContiguous(path.ansi, isFile, size)) {
    DoSkipFile(path.wide, isFile, 0);
    item_ = {path.wide, examined_ ? DefragItemOutcome::kContiguous : DefragItemOutcome::kNotOpened,
             0, ""};
  } else {
    bool noFreeSpace = false;
    // A failure is only logged.
    DefragItem(path, false, size, isFile, {fileInfo.Attributes, isFile ? fileInfo.Size : 0}, true,
               noFreeSpace);
    DoProgress(path.wide);
  }
  if (OnItemDone) OnItemDone(*this, item_);
  if (Aborted) sender.Abort();
}

bool TFastDefragEngine::DoSkipFile(const std::wstring& fileName, bool isFile, std::int64_t size) {
  if (OnSkipFile) OnSkipFile(*this, fileName, Aborted, isFile, size);
  return true;
}

bool TFastDefragEngine::DoProgress(const std::wstring& fileName) {
  if (OnProgress) OnProgress(*this, Aborted, fileName);
  return true;
}

}  // namespace kestrava
