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
#include "common/wide.h"
#include "defrag/cluster_size.h"
#include "defrag/fsctl_layout.h"
#include "defrag/retrieval_pointers.h"
#include "defrag/volume_open.h"
#include "search/find_file.h"

namespace kestrava {
namespace {

// Extent reads per item: enough for 4,095 extents a call in the inspection buffer.
constexpr int kInspectCallLimit = 1025;
constexpr int kCountCallLimit = 1001;
constexpr int kMoveCallLimit = 1025;
constexpr std::uint32_t kInspectBufferLength = 65536;
// The most clusters one FSCTL_MOVE_FILE call moves: a call cannot be interrupted, so an abort
// waits at most this long.
constexpr std::uint32_t kPieceClusters = 64;

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

// Moves one piece of an item to the front of run, which gives up the clusters before the move.
void MovePiece(VolumeDevicePort& volume, VolumeDevicePort::Handle device,
               VolumeDevicePort::Handle item, const std::string& path, TFreeRun& run,
               std::int64_t vcn, std::uint32_t piece, bool& noFreeSpace) {
  // The run was chosen for the size measured before; an item that has more clusters now (it
  // grew, or the volume answers otherwise) must not be moved beyond the run's end.
  if (run.ClusterCount < piece) {
    noFreeSpace = true;
    RaiseNoFreeSpace();
  }
  const std::int64_t target = run.StartLcn;
  run.StartLcn += piece;
  run.ClusterCount -= piece;

  unsigned char data[fsctl::kMoveFileDataLength] = {};
  // The handle zero-extended to 8 bytes: in a 32-bit process, the handle and its padding.
  fsctl::WriteInt64(data, fsctl::kMoveHandleOffset, static_cast<std::int64_t>(item));
  fsctl::WriteInt64(data, fsctl::kMoveStartingVcnOffset, vcn);
  fsctl::WriteInt64(data, fsctl::kMoveStartingLcnOffset, target);
  fsctl::WriteUInt32(data, fsctl::kMoveClusterCountOffset, piece);
  std::uint32_t returned = 0;
  const WinError error =
      volume.Control(device, fsctl::kMoveFile, data, sizeof data, nullptr, 0, &returned);
  if (error == err::kSuccess) return;
  DebugLog("PrevVCN = " + std::to_string(vcn));
  DebugLog("FreeLcn = " + std::to_string(run.StartLcn));
  DebugLog("VCNCount = " + std::to_string(piece));
  throw KestravaError("Move file " + path + " error: " + std::to_string(error));
}

}  // namespace

TFastDefragEngine::TFastDefragEngine(const DefragPorts& ports) : ports_(ports) {}

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

bool TFastDefragEngine::IsFileContiguous(const std::string& path, bool isFile,
                                         std::int64_t& size) {
  size = 0;
  if (!LearnClusterSize(path)) return true;
  bool contiguous = true;
  try {
    VolumeDevicePort& volume = *ports_.volume;
    DeviceHandle item(volume);
    if (!OpenToInspect(volume, path, isFile, item)) return true;
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[kInspectBufferLength]);
    RetrievalPointers extents(volume, item.Get(), buffer.get(), kInspectBufferLength);
    std::int64_t allocated = 0;
    for (int calls = 1;; ++calls) {
      const WinError outcome = extents.Read();
      if (outcome != err::kSuccess && outcome != err::kMoreData) break;
      // Adjacency is judged between the extents of one answer; a call that returns a single
      // extent has nothing to compare, and never clears a break found before.
      std::int64_t previousLcn = 0;
      std::int64_t previousLength = 0;
      extents.ForEachExtent([&](const TExtent& extent) {
        if (!extent.Real()) return;
        if (previousLcn != 0 && previousLength != 0 && previousLcn + previousLength != extent.Lcn) {
          contiguous = false;
        }
        previousLcn = extent.Lcn;
        previousLength = extent.Length;
        allocated += static_cast<std::int64_t>(extent.Length * ClusterSize);
      });
      if (outcome != err::kMoreData || calls >= kInspectCallLimit || !extents.Advanced()) break;
    }
    size = allocated;
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
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[kInspectBufferLength]);
    RetrievalPointers extents(volume, item.Get(), buffer.get(), kInspectBufferLength);
    std::uint32_t clusters = 0;
    for (int calls = 1;; ++calls) {
      const WinError outcome = extents.Read();
      if (outcome != err::kSuccess && outcome != err::kMoreData) break;
      extents.ForEachExtent([&](const TExtent& extent) {
        if (extent.Real()) clusters += extent.Length;
      });
      if (outcome != err::kMoreData || calls >= kCountCallLimit || !extents.Advanced()) break;
    }
    return clusters;
  } catch (const std::exception&) {
    return 0;
  }
}

bool TFastDefragEngine::DefragFile(const std::wstring& fileName, bool rescan, std::int64_t size,
                                   bool isFile, bool addGrowthRoom, bool& noFreeSpace) {
  noFreeSpace = false;
  const std::string path = WideToAnsi(fileName);
  if (!LearnClusterSize(path)) return false;
  if (size == 0 && !isFile) {
    size = static_cast<std::int64_t>(GetClusterCount(path, false) * ClusterSize);
  }
  if (size == 0) {
    DebugLog("Fail to get file size:" + path);
    return false;
  }
  if (addGrowthRoom && isFile) {
    size += GrowthRoomClusters(path) * static_cast<std::int64_t>(ClusterSize);
  }
  try {
    return MoveItem(fileName, path, rescan, size, isFile, noFreeSpace);
  } catch (const std::bad_alloc&) {
    DebugLog("Defrag File Error:Out of memory");
    return false;
  } catch (const std::exception& e) {
    DebugLog(std::string("Defrag File Error:") + e.what());
    return false;
  }
}

bool TFastDefragEngine::MoveItem(const std::wstring& fileName, const std::string& path,
                                 bool rescan, std::int64_t size, bool isFile, bool& noFreeSpace) {
  const std::uint32_t needed = static_cast<std::uint32_t>(
      std::max<std::int64_t>(size / static_cast<std::int64_t>(ClusterSize), 1));
  TFreeRun* run = FindFreeRun(rescan, DriveLetter(path), needed);
  if (run == nullptr) {
    noFreeSpace = true;
    RaiseNoFreeSpace();
  }
  DebugLog((isFile ? "New LCN for File:" : "New LCN for Folder:") + std::to_string(run->StartLcn));
  DebugLog("Lcn Count:" + std::to_string(run->ClusterCount));

  VolumeDevicePort& volume = *ports_.volume;
  DeviceHandle device(volume);
  OpenVolumeOrRaise(volume, DriveOfPath(path.c_str()), device);
  DeviceHandle item(volume);
  OpenItemToMoveOrRaise(volume, fileName, path, !isFile, item);

  // One extent per cluster fits, so one call normally returns the whole map.
  const std::uint64_t bufferLength = std::uint64_t{needed} * fsctl::kExtentLength + 32;
  if (bufferLength > std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[bufferLength]);
  RetrievalPointers extents(volume, item.Get(), buffer.get(),
                            static_cast<std::uint32_t>(bufferLength));

  for (int calls = 1;; ++calls) {
    if (Aborted) return false;
    const WinError outcome = extents.Read();
    if (outcome == err::kAccessDenied) return false;
    if (outcome != err::kSuccess && outcome != err::kMoreData) break;
    bool stopped = false;
    extents.ForEachExtent([&](const TExtent& extent) {
      if (stopped) return;
      std::int64_t vcn = extent.Vcn;
      std::uint32_t remaining = extent.Length;
      while (remaining > 0) {
        const std::uint32_t piece = std::min(remaining, kPieceClusters);
        remaining -= piece;
        DoProgress(fileName);
        if (Aborted) {
          stopped = true;
          return;
        }
        if (extent.Real()) {
          MovePiece(volume, device.Get(), item.Get(), path, *run, vcn, piece, noFreeSpace);
        }
        vcn += piece;
      }
    });
    if (stopped) return false;
    if (outcome != err::kMoreData || calls >= kMoveCallLimit || !extents.Advanced()) break;
  }
  return true;
}

bool TFastDefragEngine::DefragFolder(const std::string& folder, bool filesOnly) {
  if (!ScanFreeSpace(DriveLetter(folder))) return false;

  TFindFile finder(nullptr, ports_.search);
  finder.OnFileMatch = [this](TFindFile& sender, const TFileDetails& fileInfo) {
    DoFileMatch(sender, fileInfo);
  };
  finder.OnFolderChange = nullptr;
  finder.Threaded = false;  // the search runs here, and DoFileMatch with it

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
  return true;
}

void TFastDefragEngine::DoFileMatch(TFindFile& sender, const TFileDetails& fileInfo) {
  const std::string path = AddBackslash(fileInfo.Folder) + fileInfo.Name;
  const bool isFile = (fileInfo.Attributes & attr::kDirectory) == 0;
  std::int64_t size = 0;
  if (IsFileContiguous(path, isFile, size)) {
    DoSkipFile(AnsiToWide(path), isFile, 0);
  } else {
    const std::wstring fileName = AnsiToWide(path);
    bool noFreeSpace = false;
    DefragFile(fileName, false, size, isFile, true, noFreeSpace);  // a failure is only logged
    DoProgress(fileName);
  }
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
