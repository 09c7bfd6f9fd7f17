#pragma once
// A volume whose every answer comes from fuzz input: the opens' outcomes, the cluster size, and
// the bytes, counts and codes of FSCTL_GET_VOLUME_BITMAP, FSCTL_GET_RETRIEVAL_POINTERS,
// FSCTL_MOVE_FILE and FSCTL_GET_NTFS_VOLUME_DATA. It also watches the engine: every handle it hands
// out must come back once, control calls go to handles that are open and of the right kind, moves
// stay inside one piece, and the calls of one run are bounded, so that an endless loop is a finding
// rather than a timeout.
//
// The input is read front to back; past its end every read gives zeros. Answers are templates
// read once and applied to each request, so one that follows the request (a StartingVcn moved
// back or forward from the one asked for) can be repeated forever.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "defrag/fsctl_layout.h"
#include "defrag/volume_port.h"
#include "search/search_ports.h"

namespace kestrava::fuzzing {

// A fault the fuzzer reports: a crash with the stack of the check that failed.
inline void Check(bool condition) {
  if (!condition) __builtin_trap();
}

class InputBytes {
 public:
  InputBytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint16_t U16() { return static_cast<std::uint16_t>(Byte() | Byte() << 8); }
  std::uint32_t U32() { return U16() | static_cast<std::uint32_t>(U16()) << 16; }
  std::int64_t I64() {
    const std::uint64_t low = U32();
    return static_cast<std::int64_t>(low | std::uint64_t{U32()} << 32);
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// The codes a volume gives, success twice as likely as any other.
inline WinError ErrorOf(unsigned selector) {
  static constexpr WinError kCodes[] = {0, 0, 234, 38, 5, 87, 32, 122};
  return kCodes[selector % 8];
}

// Where an answer's StartingLcn or StartingVcn lies relative to the one asked for.
struct StartRule {
  std::uint8_t mode = 0;  // 0 as asked, 1 asked + delta, 2 value, 3 asked rounded down to 8
  std::int64_t value = 0;

  void Read(std::uint8_t selector, InputBytes& in) {
    mode = selector % 4;
    if (mode == 1) value = static_cast<std::int8_t>(in.Byte());
    if (mode == 2) value = in.I64();
  }
  std::int64_t Apply(std::int64_t asked) const {
    switch (mode) {
      case 1: return static_cast<std::int64_t>(static_cast<std::uint64_t>(asked) + value);
      case 2: return value;
      case 3: return asked & ~std::int64_t{7};
      default: return asked;
    }
  }
};

// The bytes returned: the true count, a raw number, fewer than written, or only part of the head.
struct ReturnedRule {
  std::uint8_t mode = 0;
  std::uint32_t value = 0;

  void Read(std::uint8_t selector, InputBytes& in) {
    mode = selector % 4;
    if (mode == 1) value = in.U32();
    if (mode == 2 || mode == 3) value = in.Byte();
  }
  std::uint32_t Apply(std::uint32_t written) const {
    switch (mode) {
      case 1: return value;
      case 2: return written - std::min(written, value);
      case 3: return value % 17;
      default: return written;
    }
  }
};

struct BitmapAnswer {
  WinError error = 0;
  StartRule start;
  std::uint8_t sizeMode = 0;  // 0 small, 1 raw, 2 true: to the volume's end, 3 32-bit
  std::int64_t size = 0;
  ReturnedRule returned;
  std::uint8_t contentMode = 0;  // 0 all free, 1 all in use, 2 bytes repeated, 3 one byte repeated
  std::vector<std::uint8_t> content;

  void Read(std::uint8_t tag, InputBytes& in) {
    error = ErrorOf(tag >> 2);
    const std::uint8_t modes = in.Byte();
    start.Read(modes, in);
    sizeMode = (modes >> 2) % 4;
    if (sizeMode == 0) size = (in.U16() + 1) * std::int64_t{8};
    if (sizeMode == 1) size = in.I64();
    if (sizeMode == 3) size = in.U32();
    returned.Read(modes >> 4, in);
    contentMode = (modes >> 6) % 4;
    if (contentMode == 2) {
      content.resize(in.Byte() % 32 + 1);
      for (std::uint8_t& b : content) b = in.Byte();
    }
    if (contentMode == 3) content.assign(1, in.Byte());
  }
};

struct ExtentRule {
  std::uint8_t lengthMode = 0;  // 0 small, 1 16-bit, 2 NextVcn as given, 3 up to 2^40
  std::int64_t length = 0;
  std::uint8_t lcnMode = 0;  // 0 right after the last real one, 1 -1 (no clusters), 2 small, 3 raw
  std::int64_t lcn = 0;
};

struct ExtentAnswer {
  WinError error = 0;
  StartRule start;
  std::uint8_t countMode = 0;  // 0 as written, 1 raw, 2 one more than written, 3 zero
  std::uint32_t count = 0;
  ReturnedRule returned;
  std::int64_t firstLcn = 0;
  std::vector<ExtentRule> extents;

  void Read(std::uint8_t tag, InputBytes& in) {
    error = ErrorOf(tag >> 2);
    const std::uint8_t modes = in.Byte();
    start.Read(modes, in);
    countMode = (modes >> 2) % 4;
    if (countMode == 1) count = in.U32();
    returned.Read(modes >> 4, in);
    firstLcn = in.U16();
    extents.resize(in.Byte() % 24);
    for (ExtentRule& e : extents) {
      const std::uint8_t m = in.Byte();
      e.lengthMode = m % 4;
      if (e.lengthMode == 0) e.length = m >> 4;  // 0 is a map that does not move forward
      if (e.lengthMode == 1) e.length = in.U16();
      if (e.lengthMode == 2) e.length = in.I64();
      if (e.lengthMode == 3) e.length = std::int64_t{in.U32()} << (m >> 4 & 8);
      e.lcnMode = (m >> 2) % 4;
      if (e.lcnMode == 2) e.lcn = in.U16();
      if (e.lcnMode == 3) e.lcn = in.I64();
    }
  }
};

// Where the MFT zone lies: the zone's two ends (small ones near the clusters the other answers
// name, or raw), and the bytes returned.
struct VolumeDataAnswer {
  WinError error = 0;
  std::int64_t zoneStart = 0;
  std::int64_t zoneEnd = 0;
  ReturnedRule returned;

  void Read(std::uint8_t tag, InputBytes& in) {
    error = ErrorOf(tag >> 2);
    const std::uint8_t modes = in.Byte();
    const bool raw = modes & 1;
    zoneStart = raw ? in.I64() : in.U16();
    zoneEnd = raw ? in.I64() : zoneStart + in.U16();
    returned.Read(modes >> 1, in);
  }
};

// What one answer kind does once its templates are used up: answer with a fixed code, or repeat
// the last template some more times, or forever.
template <typename Answer>
class AnswerQueue {
 public:
  static constexpr long kForever = -1;
  std::vector<Answer> answers;
  long repeats = 0;

  const Answer* Next() {
    if (next_ < answers.size()) return &answers[next_++];
    if (answers.empty() || repeats == 0) return nullptr;
    if (repeats != kForever) --repeats;
    return &answers.back();
  }

 private:
  std::size_t next_ = 0;
};

struct Ceilings {
  // Far beyond what a folder of a few items needs; a loop that gets there has no bound of its own.
  static constexpr long kPortCalls = 1000000;
};

class FuzzVolume final : public VolumeDevicePort {
 public:
  AnswerQueue<WinError> opens;
  AnswerQueue<BitmapAnswer> bitmaps;
  AnswerQueue<ExtentAnswer> extents;
  AnswerQueue<WinError> moves;
  AnswerQueue<VolumeDataAnswer> volumeData;  // none: the volume answers as FAT (1)
  std::uint32_t clusterSize = 4096;
  // Requests at or past the end are answered with 87, as Windows does; an endless volume answers
  // every request with its next bitmap template.
  std::int64_t clusters = 32768;
  bool endless = false;
  WinError clusterSizeError = 0;
  long calls = 0;

  ~FuzzVolume() override = default;

  WinError OpenVolume(const std::string&, Handle* volume) override {
    return Open(Kind::kVolume, volume);
  }
  WinError OpenItemToInspect(const std::string&, bool, Handle* item) override {
    return Open(Kind::kItem, item);
  }
  WinError OpenItemToMove(const std::wstring&, bool, ItemAccess, Handle* item) override {
    return Open(Kind::kItem, item);
  }
  void Close(Handle handle) override {
    Count();
    Check(open_.erase(handle) == 1);  // handed out, and not closed before
  }
  WinError ClusterSize(const std::string&, std::uint32_t* bytesPerCluster) override {
    Count();
    if (clusterSizeError != 0) return clusterSizeError;
    *bytesPerCluster = clusterSize;
    return 0;
  }
  WinError Control(Handle device, std::uint32_t code, const void* input, std::uint32_t inputLength,
                   void* output, std::uint32_t outputLength, std::uint32_t* returned) override {
    Count();
    Check(returned != nullptr);
    auto* out = static_cast<unsigned char*>(output);
    switch (code) {
      case fsctl::kGetVolumeBitmap:
        Check(IsOpen(device, Kind::kVolume) && inputLength == fsctl::kStartingNumberLength);
        return AnswerBitmap(fsctl::ReadInt64(input, 0), out, outputLength, returned);
      case fsctl::kGetRetrievalPointers:
        Check(IsOpen(device, Kind::kItem) && inputLength == fsctl::kStartingNumberLength);
        return AnswerExtents(fsctl::ReadInt64(input, 0), out, outputLength, returned);
      case fsctl::kMoveFile:
        Check(IsOpen(device, Kind::kVolume) && inputLength == fsctl::kMoveFileDataLength);
        return AnswerMove(static_cast<const unsigned char*>(input));
      case fsctl::kGetNtfsVolumeData:
        Check(IsOpen(device, Kind::kVolume) && output != nullptr);
        return AnswerVolumeData(out, outputLength, returned);
      default: Check(false); return 1;
    }
  }

  std::size_t OpenHandles() const { return open_.size(); }

 private:
  enum class Kind { kVolume, kItem };

  void Count() { Check(++calls <= Ceilings::kPortCalls); }
  bool IsOpen(Handle handle, Kind kind) const {
    auto it = open_.find(handle);
    return it != open_.end() && it->second == kind;
  }
  WinError Open(Kind kind, Handle* handle) {
    Count();
    const WinError* outcome = opens.Next();
    if (outcome != nullptr && *outcome != 0) return *outcome;
    *handle = ++lastHandle_;
    open_[*handle] = kind;
    return 0;
  }

  // Bytes past what the volume wrote hold garbage, as they may after any call (the first few
  // hundred: enough to mislead a reader that trusts a count beyond them).
  static void Scribble(unsigned char* out, std::uint32_t from, std::uint32_t length) {
    if (from < length) std::memset(out + from, 0xA5, std::min<std::uint32_t>(length - from, 512));
  }

  // Fills length bytes with pattern over and over: a copy that doubles what it has written, since
  // a byte at a time (each a traced comparison) was a fifth of the fuzzer's time.
  static void Repeat(const std::vector<std::uint8_t>& pattern, unsigned char* out,
                     std::uint32_t length) {
    std::uint32_t filled = std::min<std::uint32_t>(length, pattern.size());
    std::memcpy(out, pattern.data(), filled);
    while (filled < length) {
      const std::uint32_t more = std::min(filled, length - filled);
      std::memcpy(out + filled, out, more);
      filled += more;
    }
  }

  WinError AnswerBitmap(std::int64_t asked, unsigned char* out, std::uint32_t length,
                        std::uint32_t* returned) {
    if (!endless && (asked < 0 || asked >= clusters)) return err::kInvalidParameter;
    const BitmapAnswer* a = bitmaps.Next();
    if (a == nullptr) return err::kInvalidParameter;
    if (a->error != 0 && a->error != err::kMoreData) return a->error;
    Check(out != nullptr && length >= fsctl::kBitmapOffset);
    const std::int64_t start = a->start.Apply(asked);
    const std::int64_t size =
        a->sizeMode == 2 ? static_cast<std::int64_t>(static_cast<std::uint64_t>(clusters) - start)
                         : a->size;
    fsctl::WriteInt64(out, fsctl::kBitmapStartingLcnOffset, start);
    fsctl::WriteInt64(out, fsctl::kBitmapSizeOffset, size);
    const std::uint64_t wanted = size <= 0 ? 0 : (static_cast<std::uint64_t>(size) + 7) / 8;
    const std::uint32_t bytes =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(wanted, length - fsctl::kBitmapOffset));
    unsigned char* bitmap = out + fsctl::kBitmapOffset;
    switch (a->contentMode) {
      case 0: std::memset(bitmap, 0, bytes); break;
      case 1: std::memset(bitmap, 0xFF, bytes); break;
      default: Repeat(a->content, bitmap, bytes);
    }
    const std::uint32_t written = static_cast<std::uint32_t>(fsctl::kBitmapOffset) + bytes;
    Scribble(out, written, length);
    *returned = a->returned.Apply(written);
    return a->error;
  }

  WinError AnswerExtents(std::int64_t asked, unsigned char* out, std::uint32_t length,
                         std::uint32_t* returned) {
    const ExtentAnswer* a = extents.Next();
    if (a == nullptr) return 38;  // ERROR_HANDLE_EOF: no clusters (a resident file)
    if (a->error != 0 && a->error != err::kMoreData) return a->error;
    Check(out != nullptr && length >= fsctl::kExtentsOffset + fsctl::kExtentLength);
    const std::int64_t start = a->start.Apply(asked);
    fsctl::WriteInt64(out, fsctl::kStartingVcnOffset, start);
    std::uint64_t vcn = static_cast<std::uint64_t>(start);
    std::int64_t lcn = a->firstLcn;
    std::uint32_t n = 0;
    for (const ExtentRule& e : a->extents) {
      const std::size_t at = fsctl::kExtentsOffset + n * fsctl::kExtentLength;
      if (at + fsctl::kExtentLength > length) break;
      const std::uint64_t next =
          e.lengthMode == 2 ? static_cast<std::uint64_t>(e.length) : vcn + e.length;
      std::int64_t extentLcn = lcn;
      if (e.lcnMode == 1) extentLcn = -1;
      if (e.lcnMode >= 2) extentLcn = e.lcn;
      fsctl::WriteInt64(out, at + fsctl::kNextVcnInExtent, static_cast<std::int64_t>(next));
      fsctl::WriteInt64(out, at + fsctl::kLcnInExtent, extentLcn);
      if (extentLcn != -1) {
        lcn = static_cast<std::int64_t>(static_cast<std::uint64_t>(extentLcn) + (next - vcn));
      }
      vcn = next;
      ++n;
    }
    std::uint32_t count = n;
    if (a->countMode == 1) count = a->count;
    if (a->countMode == 2) count = n + 1;
    if (a->countMode == 3) count = 0;
    fsctl::WriteUInt32(out, fsctl::kExtentCountOffset, count);
    std::memset(out + 4, 0, 4);
    const std::uint32_t written =
        static_cast<std::uint32_t>(fsctl::kExtentsOffset + n * fsctl::kExtentLength);
    Scribble(out, written, length);
    *returned = a->returned.Apply(written);
    return a->error;
  }

  WinError AnswerMove(const unsigned char* data) {
    const auto item = static_cast<Handle>(fsctl::ReadInt64(data, fsctl::kMoveHandleOffset));
    const std::int64_t lcn = fsctl::ReadInt64(data, fsctl::kMoveStartingLcnOffset);
    const std::uint32_t count = fsctl::ReadUInt32(data, fsctl::kMoveClusterCountOffset);
    // One piece of an item that is open, to a place on the volume (the VCN is the volume's own,
    // from the map it gave, and checked by it).
    Check(IsOpen(item, Kind::kItem));
    Check(lcn >= 0 && count >= 1 && count <= 64);
    // Whether two moves filled the same clusters is not judged here: a compressed or sparse
    // item's move of count VCNs takes only its real clusters, which this volume does not track.
    const WinError* outcome = moves.Next();
    return outcome != nullptr ? *outcome : 0;
  }

  WinError AnswerVolumeData(unsigned char* out, std::uint32_t length, std::uint32_t* returned) {
    const VolumeDataAnswer* a = volumeData.Next();
    if (a == nullptr) return err::kInvalidFunction;
    if (a->error != 0 && a->error != err::kMoreData) return a->error;
    const std::uint32_t written = std::min(length, fsctl::kNtfsVolumeDataLength);
    std::memset(out, 0, written);
    if (written >= fsctl::kNtfsVolumeDataLength) {
      fsctl::WriteInt64(out, fsctl::kMftZoneStartOffset, a->zoneStart);
      fsctl::WriteInt64(out, fsctl::kMftZoneEndOffset, a->zoneEnd);
    }
    Scribble(out, written, length);
    *returned = a->returned.Apply(written);
    return a->error;
  }

  std::map<Handle, Kind> open_;
  Handle lastHandle_ = 0;
};

// The finder's thread port when it searches in the caller's thread: nothing to hand off.
class InlineThreads final : public ThreadPort {
 public:
  std::unique_ptr<OwnerChannel> CreateChannel(std::function<void()>) override {
    return std::make_unique<Channel>();
  }
  std::unique_ptr<WorkerThread> StartThread(std::function<void()>, TThreadPriority) override {
    __builtin_trap();  // the folder run searches in its own thread
  }
  bool PumpOneMessage() override { return false; }
  void YieldThread() override {}
  void ReportError(const std::string&) override { __builtin_trap(); }

 private:
  class Channel final : public OwnerChannel {
   public:
    void PostSearchEnded() override {}
    bool InOwnerThread() const override { return true; }
  };
};

}  // namespace kestrava::fuzzing
