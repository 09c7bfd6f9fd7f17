// The simulated volume's answers to the defragmentation control codes. Inputs are read and
// outputs written with memcpy at the offsets Windows' structures have, never by laying a struct
// over the caller's bytes, and nothing is written past outputLength.
#include <algorithm>
#include <cstring>

#include "tests/sim/simulated_volume.h"

namespace kestrava::sim {
namespace {

constexpr WinError kHandleEof = 38;            // ERROR_HANDLE_EOF
constexpr WinError kInsufficientBuffer = 122;  // ERROR_INSUFFICIENT_BUFFER

// sizeof(VOLUME_BITMAP_BUFFER): its head and the first 8 bitmap bytes, with padding.
constexpr std::uint32_t kBitmapBufferSize = 24;
constexpr std::uint32_t kBitmapHead = 16;
// sizeof(RETRIEVAL_POINTERS_BUFFER): its head and one extent.
constexpr std::uint32_t kPointersBufferSize = 32;
constexpr std::uint32_t kPointersHead = 16;
constexpr std::uint32_t kPointerLength = 16;
constexpr std::uint32_t kMoveFileDataSize = 32;
// sizeof(NTFS_VOLUME_DATA_BUFFER); a larger buffer gets no extended data here.
constexpr std::uint32_t kNtfsVolumeDataSize = 96;

template <typename T>
T Read(const unsigned char* bytes, std::size_t offset) {
  T value;
  std::memcpy(&value, bytes + offset, sizeof value);
  return value;
}

template <typename T>
void Write(unsigned char* bytes, std::size_t offset, T value) {
  std::memcpy(bytes + offset, &value, sizeof value);
}

std::uint64_t VcnCount(const std::vector<Extent>& extents) {
  std::uint64_t n = 0;
  for (const Extent& e : extents) n += e.count;
  return n;
}

}  // namespace

WinError SimulatedVolume::Control(Handle device, std::uint32_t code, const void* input,
                                  std::uint32_t inputLength, void* output,
                                  std::uint32_t outputLength, std::uint32_t* returned) {
  auto open = handles_.find(device);
  if (open == handles_.end()) return err::kInvalidHandle;
  if (input == nullptr) inputLength = 0;
  if (output == nullptr) outputLength = 0;
  unsigned char* out = static_cast<unsigned char*>(output);
  std::uint32_t written = 0;
  WinError result;
  const bool onVolume = open->second.item == kVolume;
  switch (code) {
    case fsctl::kGetVolumeBitmap:
      ++counters_.bitmapCalls;
      if (!onVolume) return err::kInvalidFunction;
      result = GetVolumeBitmap(input, inputLength, out, outputLength, &written);
      break;
    case fsctl::kGetRetrievalPointers:
      ++counters_.retrievalCalls;
      if (onVolume) return err::kInvalidFunction;
      result = GetRetrievalPointers(items_[open->second.item], input, inputLength, out,
                                    outputLength, &written);
      break;
    case fsctl::kMoveFile:
      ++counters_.moveCalls;
      TakeClusters();  // the other program was quicker than any move
      if (!onVolume) return err::kInvalidFunction;
      result = MoveData(input, inputLength);
      break;
    case fsctl::kGetNtfsVolumeData:
      ++counters_.volumeDataCalls;  // a handle of an item on the volume is answered too
      result = GetNtfsVolumeData(out, outputLength, &written);
      break;
    default: ++counters_.otherCalls; return err::kInvalidFunction;
  }
  // DeviceIoControl's count is valid on success and with a first part of a longer answer.
  if ((result == err::kSuccess || result == err::kMoreData) && returned != nullptr)
    *returned = written;
  return result;
}

WinError SimulatedVolume::GetVolumeBitmap(const void* input, std::uint32_t inputLength,
                                          unsigned char* output, std::uint32_t outputLength,
                                          std::uint32_t* returned) const {
  if (inputLength < sizeof(std::int64_t)) return err::kInvalidParameter;
  std::int64_t start = Read<std::int64_t>(static_cast<const unsigned char*>(input), 0);
  if (start < 0) return err::kInvalidParameter;
  start &= ~std::int64_t{7};  // the answer starts on a byte of the bitmap
  if (static_cast<std::uint64_t>(start) >= Clusters()) return err::kInvalidParameter;
  if (outputLength < kBitmapBufferSize) return kInsufficientBuffer;

  const std::uint64_t size = Clusters() - static_cast<std::uint64_t>(start);
  const std::uint64_t needed = (size + 7) / 8;
  std::uint64_t length = std::min<std::uint64_t>(needed, outputLength - kBitmapHead);
  if (shortBitmapAnswers != 0) length = std::min<std::uint64_t>(length, shortBitmapAnswers);
  Write<std::int64_t>(output, 0, start);
  Write<std::int64_t>(output, 8, static_cast<std::int64_t>(size));  // the whole rest, always
  bitmap_.CopyBytes(static_cast<std::uint64_t>(start) / 8, static_cast<std::size_t>(length),
                    output + kBitmapHead);
  if (length == needed && size % 8 != 0)  // clusters past the end show as in use
    output[kBitmapHead + length - 1] |= static_cast<unsigned char>(0xFF << (size % 8));
  *returned = kBitmapHead + static_cast<std::uint32_t>(length);
  return length < needed ? err::kMoreData : err::kSuccess;
}

WinError SimulatedVolume::GetRetrievalPointers(const Item& item, const void* input,
                                               std::uint32_t inputLength, unsigned char* output,
                                               std::uint32_t outputLength,
                                               std::uint32_t* returned) const {
  if (item.layout.mapDenied) return err::kAccessDenied;
  if (inputLength < sizeof(std::int64_t)) return err::kInvalidParameter;
  if (outputLength < kPointersBufferSize) return kInsufficientBuffer;
  const std::int64_t asked = Read<std::int64_t>(static_cast<const unsigned char*>(input), 0);
  if (asked < 0) return err::kInvalidParameter;
  if (item.layout.mapEmpty) {  // the protocol allows a success that lists nothing
    Write<std::uint32_t>(output, 0, 0);
    Write<std::uint32_t>(output, 4, 0);
    Write<std::int64_t>(output, 8, asked);
    *returned = kPointersHead;
    return err::kSuccess;
  }
  const std::vector<Extent>& extents = item.layout.extents;
  // The extent holding the asked VCN; a resident item has none, so it ends there too.
  std::size_t first = 0;
  std::uint64_t firstVcn = 0;
  for (; first < extents.size(); ++first) {
    if (static_cast<std::uint64_t>(asked) < firstVcn + extents[first].count) break;
    firstVcn += extents[first].count;
  }
  if (first == extents.size()) return kHandleEof;

  const std::size_t rest = extents.size() - first;
  const std::size_t fit = (outputLength - kPointersHead) / kPointerLength;
  const std::size_t count = std::min(rest, fit);
  Write<std::uint32_t>(output, 0, static_cast<std::uint32_t>(count));
  Write<std::uint32_t>(output, 4, 0);
  Write<std::int64_t>(output, 8, static_cast<std::int64_t>(firstVcn));  // moved back
  std::uint64_t nextVcn = firstVcn;
  for (std::size_t i = 0; i < count; ++i) {
    const Extent& e = extents[first + i];
    nextVcn += e.count;
    Write<std::int64_t>(output, kPointersHead + i * kPointerLength,
                        static_cast<std::int64_t>(nextVcn));
    Write<std::int64_t>(output, kPointersHead + i * kPointerLength + 8, e.lcn);
  }
  *returned = kPointersHead + static_cast<std::uint32_t>(count) * kPointerLength;
  return count < rest ? err::kMoreData : err::kSuccess;
}

WinError SimulatedVolume::MoveData(const void* input, std::uint32_t inputLength) {
  const std::uint64_t callNumber = counters_.moveCalls;
  if (inputLength < kMoveFileDataSize) return kInsufficientBuffer;
  const unsigned char* in = static_cast<const unsigned char*>(input);
  // FileHandle is a HANDLE: Windows of each pointer width reads that many bytes and leaves the
  // padding of the 32-bit layout alone.
  const Handle fileHandle = Read<Handle>(in, 0);
  MoveRequest request;
  request.startingVcn = Read<std::int64_t>(in, 8);
  request.startingLcn = Read<std::int64_t>(in, 16);
  request.clusterCount = Read<std::uint32_t>(in, 24);
  request.callNumber = callNumber;

  auto open = handles_.find(fileHandle);
  if (open == handles_.end()) return err::kInvalidHandle;
  if (open->second.item == kVolume) return err::kInvalidParameter;  // not a file on this volume
  Item& item = items_[open->second.item];
  request.path = PathOf(item.id);

  if (callNumber == failMoveAt_) return err::kAccessDenied;
  if (beforeMove) {
    const WinError injected = beforeMove(request);
    if (injected != err::kSuccess) return injected;
  }
  if (item.elsewhere) return err::kInvalidParameter;  // a file on another volume
  if (item.layout.unmovable) return err::kAccessDenied;
  // An encrypted item's clusters move only through a handle that may read its data.
  if ((item.layout.attributes & attr::kEncrypted) != 0 &&
      open->second.access != ItemAccess::kAttributesAndData)
    return err::kAccessDenied;

  const std::vector<Extent>& extents = item.layout.extents;
  const std::uint64_t allocation = VcnCount(extents);
  const bool units =
      !item.isFolder && (item.layout.attributes & (attr::kCompressed | attr::kSparseFile)) != 0;
  // Clusters past the end of the file may be listed, but not moved: those past its size rounded
  // up to a cluster, or for a file moved in units, to the end of the unit its last byte is in.
  std::uint64_t movable = allocation;
  if (item.layout.size) {
    std::uint64_t dataEnd = (*item.layout.size + clusterSize_ - 1) / clusterSize_;
    if (units) dataEnd = (dataEnd + kUnitClusters - 1) / kUnitClusters * kUnitClusters;
    movable = std::min(movable, dataEnd);
  }
  const std::int64_t vcn = request.startingVcn, lcn = request.startingLcn;
  const std::uint64_t count = request.clusterCount;
  if (count == 0 || vcn < 0 || static_cast<std::uint64_t>(vcn) >= movable ||
      count > movable - static_cast<std::uint64_t>(vcn))
    return err::kInvalidParameter;
  const std::uint64_t first = static_cast<std::uint64_t>(vcn);
  // The end of a range of the item that a move of n clusters from first takes.
  auto rangeEnd = [&](std::uint64_t n) {
    if (!units) return first + n;
    return std::min((first + n + kUnitClusters - 1) / kUnitClusters * kUnitClusters, allocation);
  };
  // The real clusters of [first, end), and whether a sparse range lies in it.
  auto realIn = [&](std::uint64_t end, bool* meetsSparse) {
    std::uint64_t real = 0, at = 0;
    for (const Extent& e : extents) {
      const std::uint64_t from = std::max(at, first), to = std::min(at + e.count, end);
      if (from < to) {
        if (e.lcn == kSparseLcn) {
          *meetsSparse = true;
        } else {
          real += to - from;
        }
      }
      at += e.count;
    }
    return real;
  };
  if (units && first % kUnitClusters != 0) return err::kInvalidParameter;
  bool meetsSparse = false;
  const std::uint64_t room = realIn(rangeEnd(count), &meetsSparse);
  if (meetsSparse && !units) return err::kInvalidParameter;  // a move never spans a sparse range
  if (lcn < 0 || static_cast<std::uint64_t>(lcn) >= Clusters() ||
      room > Clusters() - static_cast<std::uint64_t>(lcn))
    return err::kInvalidParameter;
  const std::uint64_t target = static_cast<std::uint64_t>(lcn);
  if (Meets(reserved_, target, room)) return err::kInvalidParameter;
  if (mftZone_ && Meets({*mftZone_}, target, room)) return err::kInvalidParameter;
  // Clusters the item owns itself count as in use too, as NTFS treats them.
  if (bitmap_.AnySet(target, room)) return err::kAccessDenied;

  const std::uint64_t end = rangeEnd(partialMoves ? (count + 1) / 2 : count);
  const std::uint64_t moved = MoveClusters(item, first, target, end - first);
  if (moved > 0) ++counters_.movesDone;
  counters_.clustersMoved += moved;
  return err::kSuccess;
}

// Moves the real clusters of VCNs [vcn, vcn + count) of item back to back to free clusters from
// lcn on, and returns how many: the tags go along, the old clusters are free at once (or held),
// sparse VCNs stay sparse, and the map gets one extent for each stretch of real VCNs of the range,
// joined with a neighbour that now continues it on the volume.
std::uint64_t SimulatedVolume::MoveClusters(Item& item, std::uint64_t vcn, std::uint64_t lcn,
                                            std::uint64_t count) {
  std::vector<Extent> result;
  std::size_t firstNew = 0, lastNew = 0;  // where the range's extents lie in result
  bool placed = false;
  std::uint64_t start = 0, next = lcn;
  const std::uint64_t end = vcn + count;
  for (const Extent& e : item.layout.extents) {
    const std::uint64_t eEnd = start + e.count;
    const std::uint64_t from = std::max(start, vcn), to = std::min(eEnd, end);
    const bool sparse = e.lcn == kSparseLcn;
    auto part = [&](std::uint64_t at) {  // the LCN of VCN at of this extent
      return sparse ? kSparseLcn : e.lcn + static_cast<std::int64_t>(at - start);
    };
    if (from >= to) {
      result.push_back(e);
    } else {
      if (start < from) result.push_back({e.lcn, from - start});
      if (!placed) firstNew = result.size();
      placed = true;
      if (sparse) {
        result.push_back({kSparseLcn, to - from});
      } else {
        const std::uint64_t oldLcn = static_cast<std::uint64_t>(part(from));
        tags_.Copy(oldLcn, next, to - from);
        if (holdVacated) {
          held_.push_back({static_cast<std::int64_t>(oldLcn), to - from});
        } else {
          bitmap_.Clear(oldLcn, to - from);
        }
        result.push_back({static_cast<std::int64_t>(next), to - from});
        next += to - from;
      }
      lastNew = result.size() - 1;
      if (to < eEnd) result.push_back({part(to), eEnd - to});
    }
    start = eEnd;
  }
  if (next > lcn) bitmap_.Set(lcn, next - lcn);

  // Join within the range and at its two borders only: elsewhere the map stays as it was.
  auto joins = [](const Extent& a, const Extent& b) {
    if (a.lcn == kSparseLcn || b.lcn == kSparseLcn) return a.lcn == b.lcn;
    return a.lcn + static_cast<std::int64_t>(a.count) == b.lcn;
  };
  std::size_t stop = lastNew + 1;  // the last pair (i - 1, i) to look at
  for (std::size_t i = std::max<std::size_t>(firstNew, 1);
       placed && i <= stop && i < result.size();) {
    if (joins(result[i - 1], result[i])) {
      result[i - 1].count += result[i].count;
      result.erase(result.begin() + static_cast<std::ptrdiff_t>(i));
      --stop;
    } else {
      ++i;
    }
  }
  item.layout.extents = std::move(result);
  return next - lcn;
}

WinError SimulatedVolume::GetNtfsVolumeData(unsigned char* output, std::uint32_t outputLength,
                                            std::uint32_t* returned) const {
  if (!mftZone_) return err::kInvalidFunction;  // as FAT answers
  if (outputLength < kNtfsVolumeDataSize) return kInsufficientBuffer;
  std::memset(output, 0, kNtfsVolumeDataSize);
  const std::int64_t clusters = static_cast<std::int64_t>(Clusters());
  Write<std::int64_t>(output, 0, 0x4B455354);  // VolumeSerialNumber
  Write<std::int64_t>(output, 8, clusters * (clusterSize_ / 512));
  Write<std::int64_t>(output, 16, clusters);
  Write<std::int64_t>(output, 24, clusters - static_cast<std::int64_t>(bitmap_.CountSet()));
  Write<std::uint32_t>(output, 40, 512);
  Write<std::uint32_t>(output, 44, clusterSize_);
  Write<std::uint32_t>(output, 48, 1024);
  Write<std::uint32_t>(output, 52, clusterSize_ <= 1024 ? 1024 / clusterSize_ : 0);
  Write<std::int64_t>(output, 80, mftZone_->lcn);
  Write<std::int64_t>(output, 88, mftZone_->lcn + static_cast<std::int64_t>(mftZone_->count));
  *returned = kNtfsVolumeDataSize;
  return err::kSuccess;
}

void SimulatedVolume::Checkpoint() {
  for (const Extent& h : held_) bitmap_.Clear(static_cast<std::uint64_t>(h.lcn), h.count);
  held_.clear();
}

}  // namespace kestrava::sim
