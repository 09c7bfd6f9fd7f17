#pragma once
// A simulated NTFS volume that answers the defragmentation engine's ports the way Windows does:
// the volume bitmap, an item's extents and file moves through DeviceIoControl's bytes, opening
// the volume and its items, and listing and naming its folders for the file finder. Wine has no
// volume bitmap and no file moves, so the engine is proven here; the answers follow Windows'
// documented behaviour, byte layouts and error codes, including the awkward ones (paging with
// ERROR_MORE_DATA, a returned start moved back, a move that fails or only half succeeds).
//
// A volume has one drive letter. Items are folders and files by full path ("C:\Games\a.pak"),
// looked up without regard to letter case; each has Win32 attributes and an extent map in VCN
// order. Every cluster an item owns carries a content tag made from the item and the VCN, so
// Check() can tell that moves lost or mixed no data.
//
// One caller at a time: it takes no lock, so a test inspects it only while the engine is not
// calling it (before a worker starts, after it ended).
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "defrag/volume_port.h"
#include "search/search_ports.h"
#include "tests/sim/cluster_bitmap.h"
#include "tests/sim/cluster_tags.h"

namespace kestrava::sim {

inline constexpr std::int64_t kSparseLcn = -1;  // the LCN of a range that has no clusters
// The compression unit of compressed and sparse files: NTFS moves their clusters a unit at a time.
inline constexpr std::uint64_t kUnitClusters = 16;

// A run of an item's VCNs: on the volume from lcn on, or sparse (lcn kSparseLcn).
struct Extent {
  std::int64_t lcn = 0;
  std::uint64_t count = 0;
  bool operator==(const Extent& o) const { return lcn == o.lcn && count == o.count; }
  bool operator!=(const Extent& o) const { return !(*this == o); }
};

// What an item is made with. No extents: the item is resident (its data lives in its file
// record), and reading its extents fails with ERROR_HANDLE_EOF.
struct ItemLayout {
  std::vector<Extent> extents;
  std::uint32_t attributes = 0;  // attr:: bits; folders always have attr::kDirectory
  bool locked = false;           // held open by another program: every open fails with 32
  bool denied = false;           // its security refuses us: every open fails with 5
  bool unmovable = false;        // the file system refuses to move it: moves fail with 5
  // Held open by another program that shares nothing, as a running game holds its files: opens
  // for data (and listing it, for a folder) fail with 32; attribute-only opens succeed.
  bool inUse = false;
  bool mapDenied = false;  // reading its extents fails with 5 (a filter or its security refuses)
  bool mapEmpty = false;   // reading its extents succeeds with no extents
  // A junction (or link) onto another volume: its attributes say reparse point, and opening it
  // opens what it leads to. Its extents, and those of every item below it, are that volume's:
  // they are not this volume's clusters, and a move through this volume's handle fails with 87.
  bool junction = false;
  // A file's size in bytes when it is apart from the allocation (clusters kept past the end of
  // the file); moves of clusters at or past the cluster-rounded size (for a file moved in units,
  // past the end of the unit that holds its last byte) fail with 87.
  std::optional<std::uint64_t> size = std::nullopt;
  bool operator==(const ItemLayout& o) const {
    return extents == o.extents && attributes == o.attributes && locked == o.locked &&
           denied == o.denied && unmovable == o.unmovable && inUse == o.inUse &&
           mapDenied == o.mapDenied && mapEmpty == o.mapEmpty && junction == o.junction &&
           size == o.size;
  }
};

// An item as the inspection calls show it.
struct ItemInfo {
  std::string path;  // folders end with a backslash
  bool isFolder = false;
  ItemLayout layout;
};

// A FSCTL_MOVE_FILE call as the fault hook sees it, after its input was read.
struct MoveRequest {
  std::string path;  // the item's full path
  std::int64_t startingVcn = 0;
  std::int64_t startingLcn = 0;
  std::uint32_t clusterCount = 0;
  std::uint64_t callNumber = 0;  // counted from 1 over every move call
};

struct ControlCounters {
  std::uint64_t bitmapCalls = 0;
  std::uint64_t retrievalCalls = 0;
  std::uint64_t moveCalls = 0;
  std::uint64_t volumeDataCalls = 0;  // FSCTL_GET_NTFS_VOLUME_DATA
  std::uint64_t otherCalls = 0;       // unknown codes
  std::uint64_t movesDone = 0;        // move calls that moved clusters
  std::uint64_t clustersMoved = 0;
  std::uint64_t unknownCloses = 0;  // Close of a handle that is not open: a double close
};

struct CheckResult {
  bool contentOk = true;  // every owned cluster holds the tag of its item and VCN
  // Clusters that two owners claim: two items, two VCNs, or an item and clusters used by nothing
  // listed or taken by another program.
  std::uint64_t sharedClusters = 0;
  bool bitmapOk = true;  // bitmap = items' clusters + clusters used by nothing listed + taken
  bool Ok() const { return contentOk && sharedClusters == 0 && bitmapOk; }
};

class SimulatedVolume final : public VolumeDevicePort, public DirectoryPort, public PathPort {
 public:
  using Handle = VolumeDevicePort::Handle;

  // Throws std::invalid_argument for a drive that is not a letter, no clusters or a cluster size
  // of 0.
  SimulatedVolume(char drive, std::uint64_t clusters, std::uint32_t clusterSize);
  SimulatedVolume(const SimulatedVolume&) = delete;
  SimulatedVolume& operator=(const SimulatedVolume&) = delete;
  SimulatedVolume(SimulatedVolume&&) = default;
  SimulatedVolume& operator=(SimulatedVolume&&) = default;

  // --- Building ---
  // Marks clusters in use by nothing the volume lists (metadata, other programs' files). Throws
  // std::invalid_argument when the range leaves the volume or meets clusters already in use.
  void MarkUsed(std::uint64_t lcn, std::uint64_t count);
  // Free clusters that NTFS will not move data into (the MFT zone): the bitmap shows them free,
  // a move into them fails with 87. Throws as MarkUsed, also for a range already reserved or taken.
  void MarkReserved(std::uint64_t lcn, std::uint64_t count);
  // Free clusters that another program takes between the engine's first scan and its first move:
  // free in every bitmap answer until the first FSCTL_MOVE_FILE call of any kind, in use by that
  // program from then on (a move into them fails with 5). Throws as MarkReserved.
  void MarkTaken(std::uint64_t lcn, std::uint64_t count);
  // Where NTFS keeps room for its MFT to grow, as FSCTL_GET_NTFS_VOLUME_DATA reports it
  // (MftZoneStart, MftZoneEnd): its free clusters read free in the bitmap, a move into it fails
  // with 87. Clusters in use may lie in it, as on a volume nearly full. A volume without a zone
  // answers that control code as FAT does (1). Throws std::invalid_argument for a range that
  // leaves the volume, is empty, or a second zone.
  void SetMftZone(std::uint64_t lcn, std::uint64_t count);
  // Add an item and its missing parent folders (parents made this way are resident; a later
  // AddFolder may still give such a folder its own layout). Throws std::invalid_argument for a
  // path on another drive or below a file, an item that exists, an empty extent, real clusters
  // past the volume end, already in use, reserved or taken, or a size on a folder or past a
  // file's allocation.
  //
  // A folder's clusters are its index allocation: with extents it is read and moved like a file,
  // without it has none (reading its extents fails with 38). A file whose attributes say
  // compressed or sparse moves in compression units of kUnitClusters: a move must start on a unit
  // (87 otherwise), a count that ends inside a unit takes the rest of it, and the real clusters of
  // the units land back to back from the target while their sparse clusters take no room. (A
  // folder's compressed attribute is only what its new files get; its index moves as it is.) An
  // item whose attributes say encrypted moves only through a handle opened with the data right
  // (5 otherwise).
  void AddFolder(const std::string& path, const ItemLayout& layout = {});
  void AddFile(const std::string& path, const ItemLayout& layout = {});

  // What relative paths are resolved against.
  std::string currentDirectory;  // the root, "C:\\"

  // --- Fault injection ---
  // The nth move call (counted from 1; 0 = never) fails with access denied and moves nothing.
  void FailMoveAt(std::uint64_t n) { failMoveAt_ = n; }
  // Runs before each move that passed the input checks; a non-zero code fails the call with it.
  std::function<WinError(const MoveRequest&)> beforeMove;
  // Each move of more than one cluster moves only the first half of its count (rounded up; for a
  // file moved in units, then to the end of that unit) and still reports success, as NTFS
  // sometimes does.
  bool partialMoves = false;
  // Bitmap answers hold at most this many bytes of bitmap and end with 234 while more of the
  // volume remains, however large the buffer; 0: as many as the buffer holds.
  std::uint32_t shortBitmapAnswers = 0;
  // Clusters a move vacates stay marked in use until Checkpoint(), as NTFS keeps them until its
  // next log checkpoint; a move onto them fails with access denied meanwhile.
  bool holdVacated = false;
  void Checkpoint();

  // --- Inspection ---
  char Drive() const { return drive_; }
  std::uint64_t Clusters() const { return bitmap_.Clusters(); }
  std::uint32_t BytesPerCluster() const { return clusterSize_; }
  const ClusterBitmap& Bitmap() const { return bitmap_; }
  // The reserved and the taken ranges, sorted, touching runs joined.
  std::vector<Extent> Reserved() const;
  std::vector<Extent> Taken() const;
  const std::optional<Extent>& MftZone() const { return mftZone_; }
  // The clusters in use by nothing listed, sorted, touching runs joined. Clusters held since a
  // move and taken clusters are not among them, and the text of a volume leaves them out.
  std::vector<Extent> UsedByNothing() const;
  // Every item but the root, parents before children, siblings in NTFS order.
  std::vector<ItemInfo> Items() const;
  // Throw std::invalid_argument for a missing item.
  std::vector<Extent> ExtentsOf(const std::string& path) const;
  // True when the item's real extents, in VCN order, each begin where the one before ended
  // (sparse ranges between them are skipped: they occupy nothing). Resident items are contiguous.
  bool IsContiguous(const std::string& path) const;
  CheckResult Check() const;
  const ControlCounters& Counters() const { return counters_; }
  int OpenHandles() const { return static_cast<int>(handles_.size()); }
  int OpenFinds() const { return static_cast<int>(finds_.size()); }
  // Same drive, geometry, bitmap, clusters used by nothing, reserved and taken, the switches the
  // text of a volume carries, and items (content tags aside).
  bool operator==(const SimulatedVolume& other) const;
  bool operator!=(const SimulatedVolume& other) const { return !(*this == other); }

  // --- VolumeDevicePort ---
  WinError OpenVolume(const std::string& volumePath, Handle* volume) override;
  WinError OpenItemToInspect(const std::string& path, bool isFolder, Handle* item) override;
  WinError OpenItemToMove(const std::wstring& path, bool isFolder, ItemAccess access,
                          Handle* item) override;
  WinError Control(Handle device, std::uint32_t code, const void* input, std::uint32_t inputLength,
                   void* output, std::uint32_t outputLength, std::uint32_t* returned) override;
  void Close(Handle handle) override;
  WinError ClusterSize(const std::string& root, std::uint32_t* bytesPerCluster) override;
  // "Not supported", as before Windows 7, unless a test says what the disk is.
  WinError SeekPenalty(Handle, bool* incursPenalty) override {
    if (seekPenalty_ < 0) return err::kNotSupported;
    *incursPenalty = seekPenalty_ == 1;
    return err::kSuccess;
  }
  void SetSeekPenalty(bool incurs) { seekPenalty_ = incurs ? 1 : 0; }

  // --- DirectoryPort ---
  WinError FindFirst(const std::string& pattern, TFindData& data, DirectoryPort::Handle* handle,
                     FindScope scope = FindScope::kAllEntries) override;
  WinError FindNext(DirectoryPort::Handle handle, TFindData& data) override;
  void FindClose(DirectoryPort::Handle handle) override;

  // --- PathPort ---
  char Separator() const override { return '\\'; }
  bool IsNameDelimiter(char c) const override { return c == '\\' || c == ':'; }
  WinError FullPath(const std::string& path, std::string* full) override;
  WinError UniversalName(const std::string& path, std::string* unc) override;

 private:
  struct Item {
    std::size_t id = 0;
    std::size_t parent = 0;
    std::string name;  // as created; the root's is "C:"
    bool isFolder = false;
    bool implicit = false;   // made as a parent; AddFolder may still give it a layout
    bool elsewhere = false;  // a junction, or below one: on another volume
    ItemLayout layout;
    std::map<std::string, std::size_t> children;  // by upper-cased name: NTFS order
  };
  struct OpenHandle {
    std::size_t item = 0;  // an item id or kVolume
    ItemAccess access = ItemAccess::kAttributes;
  };
  struct Listing {
    std::vector<TFindData> entries;
    std::size_t next = 0;
  };
  // What a lookup of a path found: the item, or the code a CreateFile would fail with.
  struct Lookup {
    WinError error = 0;
    std::size_t item = 0;
  };

  void AddItem(const std::string& path, bool isFolder, const ItemLayout& layout);
  void CheckClustersFree(const std::vector<Extent>& extents, const std::string& path,
                         bool elsewhere) const;
  void CheckRangeFree(std::uint64_t lcn, std::uint64_t count, const std::string& what) const;
  static bool Meets(const std::vector<Extent>& ranges, std::uint64_t lcn, std::uint64_t count);
  bool Blocked(std::uint64_t lcn, std::uint64_t count) const;  // reserved or taken
  void TakeClusters();
  Lookup Find(const std::string& path) const;
  std::string PathOf(std::size_t id) const;
  WinError Open(const std::string& path, bool isFolder, ItemAccess access, Handle* item);
  Handle NewHandle(std::size_t item, ItemAccess access = ItemAccess::kAttributes);
  WinError GetVolumeBitmap(const void* input, std::uint32_t inputLength, unsigned char* output,
                           std::uint32_t outputLength, std::uint32_t* returned) const;
  WinError GetRetrievalPointers(const Item& item, const void* input, std::uint32_t inputLength,
                                unsigned char* output, std::uint32_t outputLength,
                                std::uint32_t* returned) const;
  WinError MoveData(const void* input, std::uint32_t inputLength);
  WinError GetNtfsVolumeData(unsigned char* output, std::uint32_t outputLength,
                             std::uint32_t* returned) const;
  std::uint64_t MoveClusters(Item& item, std::uint64_t vcn, std::uint64_t lcn, std::uint64_t count);
  TFindData FindDataOf(const Item& item) const;
  static std::uint32_t TagOf(std::size_t id, std::uint64_t vcn);
  void TagExtents(const Item& item);

  static constexpr std::size_t kRoot = 0;
  static constexpr std::size_t kVolume = static_cast<std::size_t>(-1);  // a handle's target

  char drive_;
  std::uint32_t clusterSize_;
  ClusterBitmap bitmap_;
  ClusterTags tags_;
  std::vector<Extent> usedByNothing_;
  std::vector<Extent> held_;  // vacated, in use until the next checkpoint
  std::vector<Item> items_;   // by id; the root is 0
  std::vector<Extent> reserved_;
  std::vector<Extent> taken_;
  std::optional<Extent> mftZone_;
  bool takenInUse_ = false;               // a move call came: the taken ranges are in use
  std::map<Handle, OpenHandle> handles_;  // open device handles
  std::map<DirectoryPort::Handle, Listing> finds_;
  Handle nextHandle_ = 4;
  DirectoryPort::Handle nextFind_ = 1;
  std::uint64_t failMoveAt_ = 0;
  int seekPenalty_ = -1;  // -1 not said, 0 none, 1 incurs
  ControlCounters counters_;
};

}  // namespace kestrava::sim
