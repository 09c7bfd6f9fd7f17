#pragma once
// TFastDefragEngine makes every file and folder under one folder contiguous on its volume. It reads
// the volume's free runs once, lists the folder with the file finder (in the calling thread),
// leaves contiguous items alone, and moves each fragmented item, in pieces of at most 64 clusters,
// into the highest free run that is large enough. Every volume access goes through VolumeDevicePort
// at the level of DeviceIoControl; diagnostics go to DebugLog.
//
// One engine serves one folder run: the cluster size is learnt from the first item and kept, and
// the free-run list is consumed item by item, never rescanned. Not thread-safe; everything runs on
// the caller's thread, and abort is a flag the event handlers set.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "boost/defrag_engine.h"
#include "defrag/free_runs.h"
#include "defrag/item_move.h"
#include "defrag/volume_port.h"
#include "search/search_ports.h"

namespace kestrava {

class TFindFile;
struct TFileDetails;

// The system the engine works on: the volume device, and the ports its file finder lists through.
struct DefragPorts {
  VolumeDevicePort* volume = nullptr;
  SearchPorts search;
};

class TFastDefragEngine final : public DefragEngine {
 public:
  explicit TFastDefragEngine(const DefragPorts& ports);
  ~TFastDefragEngine() override = default;

  // Defragments every item under folder, an absolute path that begins with a drive letter and a
  // colon (with filesOnly, files only). False when the free space could not be read; true when the
  // search ran to its end or was aborted. Raises KestravaError when the folder's volume cannot be
  // opened ("CreateFile \\.\C:...") or its cluster size read ("Df Error 2009...").
  bool DefragFolder(const std::string& folder, bool filesOnly) override;
  // Counts without moving (defrag/folder_survey.cpp): the same finder, IsFileContiguous and
  // GetClusterCount per item, ScanFreeSpace for the free space; never DefragFile.
  bool SurveyFolder(const std::string& folder, bool filesOnly, FolderSurvey& survey) override;

  // True when the item needs no move: it is contiguous, or it cannot be examined (locked, denied,
  // missing). size receives its allocated size in bytes (0 when it cannot be examined).
  bool IsFileContiguous(const std::string& path, bool isFile, std::int64_t& size);
  // The item's clusters on the volume; 0 when it cannot be examined.
  std::uint32_t GetClusterCount(const std::string& path, bool isFile);
  // Moves all of the item's clusters, in VCN order, to the front of one free run. size is its
  // allocated size in bytes (0: unknown); addGrowthRoom asks the run to have room for a text,
  // document or log file to grow. True when the item was processed to the end; every failure is
  // logged and gives false. noFreeSpace is set when no run was large enough.
  bool DefragFile(const std::wstring& fileName, bool rescan, std::int64_t size, bool isFile,
                  bool addGrowthRoom, bool& noFreeSpace);

  // Rebuilds the free-run list from the bitmap of drive's volume ('C').
  bool ScanFreeSpace(char drive);
  // The run an item of needed clusters goes to (last fit with a margin of 4), after a rescan when
  // asked for one; nullptr when none is large enough.
  TFreeRun* FindFreeRun(bool rescan, char drive, std::uint32_t needed);

  const TFreeRuns& FreeRunList() const { return FreeRuns; }
  bool IsAborted() const { return Aborted; }
  std::uint64_t KnownClusterSize() const { return ClusterSize; }

 private:
  // Where an item lies as the run sees it: on the volume, or a junction or link (which may lead to
  // another volume), or reached through one.
  enum class ItemReach { kOnVolume, kReparsePoint, kBeyondReparsePoint };
  using MatchHandler = std::function<void(TFindFile& sender, const TFileDetails& fileInfo,
                                          const std::string& path, ItemReach reach)>;
  // Lists every item under folder (files only with filesOnly) in the calling thread, handing each
  // to onMatch: hidden and system items and the folders themselves too. A folder that is a
  // reparse point is handed on even with filesOnly, so that it is seen to be passed over, and so
  // is what lies below it. The folder run and the survey share it, so that the survey counts the
  // items a run visits.
  void SearchFolder(const std::string& folder, bool filesOnly, MatchHandler onMatch);
  void DoFileMatch(TFindFile& sender, const std::string& ansiPath, const TFileDetails& fileInfo,
                   ItemReach reach);
  bool DoSkipFile(const std::wstring& fileName, bool isFile, std::int64_t size);
  bool DoProgress(const std::wstring& fileName);
  // Learns the cluster size from the drive of path when it is not known yet; false while it is 0.
  bool LearnClusterSize(const std::string& path);
  // An item's path in both forms, made once: the ANSI one to inspect it, for its drive and the
  // log lines, the wide one to open it for moving and for the events.
  struct ItemPath {
    std::string ansi;
    std::wstring wide;
  };
  // What the finder reported of an item that says how the file system moves it.
  struct ItemFacts {
    std::uint32_t attributes = 0;  // compressed, sparse, encrypted
    std::int64_t dataBytes = -1;   // a file's size apart from its allocation; -1: not known
  };
  // What the contiguity test found.
  struct Inspection {
    bool contiguous = true;  // or not examined
    bool examined = false;   // opened and its map read
    std::int64_t size = 0;   // bytes of its real clusters below the end of its data
    std::uint64_t fragments = 0;
  };
  Inspection Inspect(const std::string& path, bool isFile, const ItemFacts& facts);
  // The VCN where the clusters the engine moves and judges end (ClusterSize known).
  std::int64_t DataEndOf(bool isFile, const ItemFacts& facts) const;
  // What DefragItem made of an item.
  struct ItemResult {
    DefragItemOutcome outcome = DefragItemOutcome::kFailed;
    std::string text;
    bool logged = true;  // false: a failure reported, but as ever not logged
    std::uint64_t clustersMoved = 0;
    std::uint64_t fragmentsAfter = 0;
    bool noFreeSpace = false;
  };
  // DefragFile with what the finder reported of the item; every failure is logged here.
  ItemResult DefragItem(const ItemPath& path, bool rescan, std::int64_t size, bool isFile,
                        const ItemFacts& facts, bool addGrowthRoom);
  // The part of DefragItem from the choice of the run on; an open that fails raises.
  ItemResult MoveToFreeRun(const ItemPath& path, bool rescan, std::int64_t size, bool isFile,
                           const ItemFacts& facts);
  // Whether path lies in a folder reached through a reparse point the search passed over.
  bool BeyondReparsePoint(const std::string& path) const;

  // The buffer every extent read of the engine uses, made at the first: one for the engine's life
  // rather than 64 KiB made and cleared for each walk of each item.
  unsigned char* ExtentBuffer();

  DefragPorts ports_;
  std::unique_ptr<unsigned char[]> extentBuffer_;
  TFreeRuns FreeRuns;
  bool Aborted = false;
  std::uint64_t ClusterSize = 0;
  RunEvidence evidence_;              // what failed moves showed of the runs
  std::uint64_t itemSerial_ = 0;      // counts the items DefragItem was given
  std::vector<std::string> reparse_;  // folders passed over, folded, with a backslash
};

}  // namespace kestrava
