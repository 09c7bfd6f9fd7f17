#include "defrag/fast_defrag_engine.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <new>

#include "common/ascii_fold.h"
#include "common/debug_log.h"
#include "common/error.h"
#include "common/paths.h"
#include "common/wide.h"
#include "defrag/cluster_size.h"
#include "defrag/item_map.h"
#include "defrag/retrieval_pointers.h"
#include "defrag/volume_open.h"
#include "search/find_file.h"

namespace kestrava {
namespace {

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

// Opens an item to read its extents; a failed open means the item cannot be examined.
bool OpenToInspect(VolumeDevicePort& volume, const std::string& path, bool isFile,
                   DeviceHandle& item) {
  return volume.OpenItemToInspect(path, !isFile, item.Put()) == err::kSuccess;
}

// total + bytes, held at the largest size when a volume's answers claim more than any file has.
std::int64_t AddBytes(std::int64_t total, std::uint64_t bytes) {
  constexpr std::int64_t kMost = std::numeric_limits<std::int64_t>::max();
  if (total >= 0 && bytes > static_cast<std::uint64_t>(kMost - total)) return kMost;
  return total + static_cast<std::int64_t>(std::min<std::uint64_t>(bytes, kMost));
}

// clusters * clusterSize in bytes, held at the largest size.
std::int64_t ClusterBytes(std::uint64_t clusters, std::uint64_t clusterSize) {
  if (clusters != 0 &&
      clusterSize >
          static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) / clusters) {
    return std::numeric_limits<std::int64_t>::max();
  }
  return static_cast<std::int64_t>(clusters * clusterSize);
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
  evidence_.Clear();  // a new list: what was seen of the old one's runs no longer applies
  return kestrava::ScanFreeSpace(*ports_.volume, drive, FreeRuns);
}

TFreeRun* TFastDefragEngine::FindFreeRun(bool rescan, char drive, std::uint32_t needed) {
  if (rescan) {
    FreeRuns.clear();
    if (!ScanFreeSpace(drive)) return nullptr;
  }
  return kestrava::FindFreeRun(FreeRuns, needed);
}

std::int64_t TFastDefragEngine::DataEndOf(bool isFile, const ItemFacts& facts) const {
  if (!isFile || facts.dataBytes < 0) return kWholeMap;
  return DataEnd(facts.dataBytes, ClusterSize, MovesInUnits(isFile, facts.attributes));
}

TFastDefragEngine::Inspection TFastDefragEngine::Inspect(const std::string& path, bool isFile,
                                                         const ItemFacts& facts) {
  Inspection inspection;
  if (!LearnClusterSize(path)) return inspection;
  try {
    VolumeDevicePort& volume = *ports_.volume;
    DeviceHandle item(volume);
    if (!OpenToInspect(volume, path, isFile, item)) return inspection;
    const MapReading map =
        ReadMap(volume, item.Get(), ExtentBuffer(), kInspectCallLimit, DataEndOf(isFile, facts));
    inspection.contiguous = map.contiguous;
    inspection.examined = true;
    inspection.size = ClusterBytes(map.clusters, ClusterSize);
    inspection.fragments = map.fragments;
  } catch (const std::exception&) {
    return Inspection{};
  }
  return inspection;
}

bool TFastDefragEngine::IsFileContiguous(const std::string& path, bool isFile, std::int64_t& size) {
  const Inspection inspection = Inspect(path, isFile, ItemFacts{});
  size = inspection.size;
  return inspection.contiguous;
}

std::uint32_t TFastDefragEngine::GetClusterCount(const std::string& path, bool isFile) {
  if (!LearnClusterSize(path)) return 0;
  try {
    VolumeDevicePort& volume = *ports_.volume;
    DeviceHandle item(volume);
    if (!OpenToInspect(volume, path, isFile, item)) return 0;
    const MapReading map = ReadMap(volume, item.Get(), ExtentBuffer(), kCountCallLimit, kWholeMap);
    return static_cast<std::uint32_t>(map.clusters);
  } catch (const std::exception&) {
    return 0;
  }
}

bool TFastDefragEngine::DefragFile(const std::wstring& fileName, bool rescan, std::int64_t size,
                                   bool isFile, bool addGrowthRoom, bool& noFreeSpace) {
  const ItemResult result =
      DefragItem({WideToAnsi(fileName), fileName}, rescan, size, isFile, {}, addGrowthRoom);
  noFreeSpace = result.noFreeSpace;
  return result.outcome == DefragItemOutcome::kMoved;
}

TFastDefragEngine::ItemResult TFastDefragEngine::DefragItem(const ItemPath& path, bool rescan,
                                                            std::int64_t size, bool isFile,
                                                            const ItemFacts& facts,
                                                            bool addGrowthRoom) {
  ItemResult result;
  ++itemSerial_;
  if (!LearnClusterSize(path.ansi)) return result;
  if (size == 0 && !isFile) {
    size = static_cast<std::int64_t>(GetClusterCount(path.ansi, false) * ClusterSize);
  }
  if (size == 0) {
    DebugLog("Fail to get file size:" + path.ansi);
    result.text = "Fail to get file size";
    return result;
  }
  if (addGrowthRoom && isFile) {
    size = AddBytes(size, GrowthRoomClusters(path.ansi) * ClusterSize);
  }
  try {
    result = MoveToFreeRun(path, rescan, size, isFile, facts);
  } catch (const std::bad_alloc&) {
    result = {};
    result.text = "Out of memory";
  } catch (const std::exception& e) {
    // An open that failed ("CreateFile ..."): what was moved before stays moved.
    result = {};
    result.text = e.what();
  }
  if (result.logged && !result.text.empty()) {
    DebugLog("Defrag File Error:" + result.text);
  }
  return result;
}

TFastDefragEngine::ItemResult TFastDefragEngine::MoveToFreeRun(const ItemPath& path, bool rescan,
                                                               std::int64_t size, bool isFile,
                                                               const ItemFacts& facts) {
  ItemResult result;
  const std::uint32_t needed = static_cast<std::uint32_t>(
      std::max<std::int64_t>(size / static_cast<std::int64_t>(ClusterSize), 1));
  TFreeRun* run = FindFreeRun(rescan, DriveLetter(path.ansi), needed);
  if (run == nullptr) {
    result.outcome = DefragItemOutcome::kNoFreeRun;
    result.text = "Fail to get the free space!";
    result.noFreeSpace = true;
    return result;
  }
  DebugLog((isFile ? "New LCN for File:" : "New LCN for Folder:") + std::to_string(run->StartLcn));
  DebugLog("Lcn Count:" + std::to_string(run->ClusterCount));

  VolumeDevicePort& volume = *ports_.volume;
  DeviceHandle device(volume);
  OpenVolumeOrRaise(volume, DriveOfPath(path.ansi.c_str()), device);
  DeviceHandle item(volume);
  // An encrypted item's clusters move only through a handle that may read its data.
  const ItemAccess access = (facts.attributes & attr::kEncrypted) != 0
                                ? ItemAccess::kAttributesAndData
                                : ItemAccess::kAttributes;
  OpenItemToMoveOrRaise(volume, path.wide, path.ansi, !isFile, access, item);
  unsigned char* const buffer = ExtentBuffer();
  if (Aborted) {
    result.outcome = DefragItemOutcome::kAborted;
    return result;
  }

  ItemToMove move;
  move.device = device.Get();
  move.item = item.Get();
  move.path = path.ansi;
  move.dataEnd = DataEndOf(isFile, facts);
  move.inUnits = MovesInUnits(isFile, facts.attributes);
  move.clusters = static_cast<std::uint64_t>(size) / ClusterSize;
  move.serial = itemSerial_;
  const MoveResult moved =
      MoveItem(volume, move, FreeRuns, static_cast<std::size_t>(run - FreeRuns.data()), evidence_,
               buffer, [&] {
                 DoProgress(path.wide);
                 return !Aborted;
               });
  result.outcome = moved.outcome;
  result.text = moved.text;
  result.logged = moved.logged;
  result.clustersMoved = moved.clustersMoved;
  result.fragmentsAfter = moved.fragmentsAfter;
  result.noFreeSpace = moved.outcome == DefragItemOutcome::kNoFreeRun;
  return result;
}

bool TFastDefragEngine::DefragFolder(const std::string& folder, bool filesOnly) {
  if (!ScanFreeSpace(DriveLetter(folder))) return false;
  SearchFolder(folder, filesOnly,
               [this](TFindFile& sender, const TFileDetails& fileInfo, const std::string& path,
                      ItemReach reach) { DoFileMatch(sender, path, fileInfo, reach); });
  return true;
}

void TFastDefragEngine::SearchFolder(const std::string& folder, bool filesOnly,
                                     MatchHandler onMatch) {
  TFindFile finder(nullptr, ports_.search);
  reparse_.clear();
  // The finder lists what lies below a junction as if it were inside the folder. Folders are
  // listed even with filesOnly, so that a junction among them is known before what lies below it.
  finder.OnFileMatch = [this, filesOnly, &onMatch](TFindFile& sender, const TFileDetails& info) {
    const std::string path = AddBackslash(info.Folder) + info.Name;
    const bool isFolder = (info.Attributes & attr::kDirectory) != 0;
    ItemReach reach = ItemReach::kOnVolume;
    if (BeyondReparsePoint(path)) {
      reach = ItemReach::kBeyondReparsePoint;
    } else if ((info.Attributes & attr::kReparsePoint) != 0) {
      reach = ItemReach::kReparsePoint;
      if (isFolder) reparse_.push_back(FoldAsciiLower(path) + "\\");
    }
    if (filesOnly && isFolder && reach != ItemReach::kReparsePoint) return;
    onMatch(sender, info, path, reach);
  };
  finder.OnFolderChange = nullptr;
  finder.Threaded = false;  // the search runs here, and the match handler with it

  TFileCriteria& files = finder.Criteria().Files();
  files.SetFileName("*");
  files.SetLocation(folder + ";");
  files.SetSubfolders(true);
  // Every item matches, hidden and system ones and the folders themselves included (the finder
  // leaves those out by default).
  finder.Criteria().Attributes().Clear();

  finder.Execute();  // an error of an item leaves here, after the search has ended
}

bool TFastDefragEngine::BeyondReparsePoint(const std::string& path) const {
  const std::string folded = FoldAsciiLower(path);
  for (const std::string& folder : reparse_) {
    if (folded.compare(0, folder.size(), folder) == 0) return true;
  }
  return false;
}

void TFastDefragEngine::DoFileMatch(TFindFile& sender, const std::string& ansiPath,
                                    const TFileDetails& fileInfo, ItemReach reach) {
  ItemPath path;
  path.ansi = ansiPath;
  path.wide = AnsiToWide(path.ansi);
  const bool isFile = (fileInfo.Attributes & attr::kDirectory) == 0;
  DefragItemReport report{path.wide, DefragItemOutcome::kContiguous, 0, ""};
  if (reach != ItemReach::kOnVolume) {
    // A junction or link may lead to another volume: what it leads to is not this volume's to
    // move, and a move through this volume's handle would only be refused. So neither it nor
    // what the finder lists through it is worked on.
    if (reach == ItemReach::kReparsePoint) DebugLog("Reparse point passed over:" + path.ansi);
    DoSkipFile(path.wide, isFile, 0);
    report.outcome = DefragItemOutcome::kNotOpened;
  } else {
    const ItemFacts facts{fileInfo.Attributes, isFile ? fileInfo.Size : -1};
    const Inspection inspection = Inspect(path.ansi, isFile, facts);
    report.fragmentsBefore = report.fragmentsAfter = inspection.fragments;
    if (inspection.contiguous) {
      DoSkipFile(path.wide, isFile, 0);
      report.outcome =
          inspection.examined ? DefragItemOutcome::kContiguous : DefragItemOutcome::kNotOpened;
    } else {
      // A failure is only logged.
      const ItemResult result = DefragItem(path, false, inspection.size, isFile, facts, true);
      DoProgress(path.wide);
      report.outcome = result.outcome;
      report.text = result.text;
      report.clustersMoved = result.clustersMoved;
      if (result.clustersMoved > 0) report.fragmentsAfter = result.fragmentsAfter;
    }
  }
  if (OnItemDone) OnItemDone(*this, report);
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
