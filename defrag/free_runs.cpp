#include "defrag/free_runs.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "defrag/changing_words.h"
#include "defrag/fsctl_layout.h"
#include "defrag/mft_zone.h"
#include "defrag/volume_open.h"

namespace kestrava {
namespace {

int TrailingZeros(std::uint64_t word) { return __builtin_ctzll(word); }  // word != 0

constexpr std::uint64_t kTopBit = std::uint64_t{1} << 63;

std::uint64_t LoadWord(const unsigned char* bitmap, std::size_t i) {
  std::uint64_t word;
  std::memcpy(&word, bitmap + i * 8, sizeof word);
  return word;
}

// The window offsets where the bitmap changes between in use and free, in order, turned into
// runs in batches. Bits before the window's first word count as in use, so the first change opens
// a run, the next closes it, and so on.
class ChangeList {
 public:
  ChangeList(TFreeRuns& runs, std::int64_t baseLcn) : runs_(runs), base_(baseLcn) {}

  // Bits of one 64-bit word, cluster base + offset + i for bit i (a set bit is in use), after
  // the word before (only its top bit counts).
  void Word(std::uint32_t offset, std::uint64_t used, std::uint64_t before) {
    const std::uint64_t changes = Changes(used, before);
    if (changes != 0) size_ = List(size_, offset, changes);
  }

  // The words of bitmap from word i on that changing marks (bit j for word i + j), each known to
  // change something: where the scan spends most of its time.
  void AddChangingWords(const unsigned char* bitmap, std::uint32_t i, std::uint64_t changing) {
    // Room for 64 words that change everywhere, the window's last word after them, and the two
    // places written whatever a word holds. A window with no group of 64 has 65 words at most.
    if (size_ > kCapacity - 65 * 64 - 2) Flush();
    std::uint32_t size = size_;  // kept in a register: a store to offsets_ cannot change it
    for (; changing != 0; changing &= changing - 1) {
      const std::size_t k = i + static_cast<std::uint32_t>(TrailingZeros(changing));
      size = List(size, static_cast<std::uint32_t>(k * 64),
                  Changes(LoadWord(bitmap, k), LoadWord(bitmap, k - 1)));
    }
    size_ = size;
  }

  // Closes a run still open at end and adds every run.
  void Finish(std::uint32_t end) {
    if (size_ % 2 != 0) offsets_[size_++] = static_cast<std::uint16_t>(end);
    Flush();
  }

 private:
  static constexpr std::uint32_t kCapacity = 5120;

  // A set bit for each cluster of the word that differs from the one before it.
  static std::uint64_t Changes(std::uint64_t used, std::uint64_t before) {
    return used ^ ((used << 1) | (before >> 63));
  }

  // Lists at size the places of a word's changes (not none), and gives the size after them. A
  // word that changes mostly changes once or twice: both places are written whatever the word
  // holds and only the count depends on it, so no branch has to guess how many there are. (The
  // top bit makes the count of trailing zeros defined; where it changes the answer, the place is
  // not counted.)
  std::uint32_t List(std::uint32_t size, std::uint32_t offset, std::uint64_t changes) {
    const std::uint64_t rest = changes & (changes - 1);
    std::uint16_t* out = offsets_ + size;
    out[0] = static_cast<std::uint16_t>(offset + TrailingZeros(changes));
    out[1] = static_cast<std::uint16_t>(offset + TrailingZeros(rest | kTopBit));
    // 2 when the word changes again, else 1: as 2 - (rest == 0) a compare and a subtract with
    // borrow; written as 1 + (rest != 0), GCC made it one branch with the loop below, and whether
    // a word changes twice is as hard to predict as anything in a bitmap.
    size += 2 - static_cast<std::uint32_t>(rest == 0);
    for (std::uint64_t more = rest & (rest - 1); more != 0; more &= more - 1) {
      offsets_[size++] = static_cast<std::uint16_t>(offset + TrailingZeros(more));
    }
    return size;
  }

  // Adds the runs whose both ends are listed; an open run's start stays for the words to come.
  // Only the first may join the list's last run: the others begin past a cluster in use.
  void Flush() {
    const std::uint32_t whole = size_ & ~1u;
    if (whole != 0) {
      AddFreeRun(runs_, base_ + offsets_[0], offsets_[1] - offsets_[0]);
      for (std::uint32_t k = 2; k < whole; k += 2) {
        TFreeRun& run = runs_.emplace_back();
        run.StartLcn = base_ + offsets_[k];
        run.ClusterCount = offsets_[k + 1] - offsets_[k];
      }
    }
    if (whole != size_) offsets_[0] = offsets_[whole];
    size_ -= whole;
  }

  TFreeRuns& runs_;
  std::int64_t base_;
  std::uint32_t size_ = 0;
  // A window has at most kClustersPerWindow clusters, so an offset, its end included, fits in
  // 16 bits; and a store to one cannot be taken for a store to a size.
  std::uint16_t offsets_[kCapacity];
};

}  // namespace

void AddFreeRun(TFreeRuns& runs, std::int64_t startLcn, std::int64_t clusterCount) {
  if (!runs.empty() && runs.back().StartLcn + runs.back().ClusterCount == startLcn) {
    runs.back().ClusterCount += clusterCount;
  } else {
    // Field by field: a whole TFreeRun built on the stack and copied in is written as two 8-byte
    // stores read back as one 16-byte load, a stall.
    TFreeRun& run = runs.emplace_back();
    run.StartLcn = startLcn;
    run.ClusterCount = clusterCount;
  }
}

void AddFreeRunsOfWindow(TFreeRuns& runs, const unsigned char* bitmap, std::int64_t baseLcn,
                         std::uint32_t from, std::uint32_t count) {
  if (from >= count) return;
  ChangeList changes(runs, baseLcn);
  const std::uint32_t words = (count + 63) / 64;
  const std::uint32_t tail = count % 64;
  const std::uint32_t first = from / 64;
  // The first and the last word may hold bits that are not ours: those count as in use.
  const auto edgeWord = [&](std::uint32_t i) {
    std::uint64_t word = 0;
    if (i + 1 == words && tail != 0) {
      std::memcpy(&word, bitmap + i * 8, (tail + 7) / 8);
      word |= ~std::uint64_t{0} << tail;
    } else {
      word = LoadWord(bitmap, i);
    }
    if (i == first) word |= (std::uint64_t{1} << (from % 64)) - 1;
    return word;
  };
  changes.Word(first * 64, edgeWord(first), ~std::uint64_t{0});
  // The words between are read as they are, 64 at a time; the last 64 of them may overlap the
  // group before, whose words are then left out.
  const std::uint32_t whole = tail != 0 ? words - 1 : words;
  std::uint32_t i = first + 1;
  if (i + 64 <= whole) {
    for (; i + 64 <= whole; i += 64) changes.AddChangingWords(bitmap, i, ChangingWords(bitmap, i));
    if (i < whole) {
      const std::uint32_t start = whole - 64;
      changes.AddChangingWords(bitmap, start,
                               ChangingWords(bitmap, start) & (~std::uint64_t{0} << (i - start)));
      i = whole;
    }
  }
  for (; i < whole; ++i) changes.Word(i * 64, LoadWord(bitmap, i), LoadWord(bitmap, i - 1));
  if (i < words) changes.Word(i * 64, edgeWord(i), LoadWord(bitmap, i - 1));
  changes.Finish(count);
}

bool BitmapWindowReader::Next() {
  if (ended_ || callsLeft_-- <= 0) return false;
  ended_ = true;  // until this answer shows otherwise
  // Only the head needs clearing, so that one the volume did not write reads as zero rather
  // than as the last answer's: no bit past what the volume wrote is ever read (see count), and
  // clearing the whole window each time would cost as much as the volume's answer itself.
  std::memset(window_, 0, fsctl::kBitmapOffset);
  unsigned char input[fsctl::kStartingNumberLength];
  fsctl::WriteInt64(input, 0, lcn_);
  std::uint32_t returned = 0;
  const WinError error = volume_.Control(device_, fsctl::kGetVolumeBitmap, input, sizeof input,
                                         window_, sizeof window_, &returned);
  if (error != err::kSuccess && error != err::kMoreData) return false;

  // The answer is the volume's: use its StartingLcn (a volume may round the request down) and
  // scan no more bits than the window holds, the volume has, or it wrote.
  const std::int64_t base = fsctl::ReadInt64(window_, fsctl::kBitmapStartingLcnOffset);
  const std::int64_t bitmapSize = fsctl::ReadInt64(window_, fsctl::kBitmapSizeOffset);
  if (base < 0 || bitmapSize <= 0 || base > std::numeric_limits<std::int64_t>::max() - bitmapSize) {
    return false;
  }
  if (volumeEnd_ < 0) {
    // No NTFS volume has more clusters than kMaxVolumeClusters: a size beyond is not read.
    volumeEnd_ = std::min(base + bitmapSize, kMaxVolumeClusters);
    // Every answer but the last holds at least a byte of bits: more calls than that cannot be a
    // volume reading forward. Nor can more calls in all than the largest volume needs: its full
    // windows, this one the first, and the call that finds its end. Answers that end short with
    // ERROR_MORE_DATA, which NTFS gives only when the buffer is full, do not stretch the scan
    // past that.
    callsLeft_ = std::min(std::max<std::int64_t>(volumeEnd_ - base, 0) / 8 + 1,
                          kMaxVolumeClusters / kClustersPerWindow);
  }
  const std::int64_t written =
      returned > fsctl::kBitmapOffset
          ? (static_cast<std::int64_t>(std::min<std::uint32_t>(returned, sizeof window_)) -
             static_cast<std::int64_t>(fsctl::kBitmapOffset)) *
                8
          : 0;
  const std::int64_t count = std::min({bitmapSize, kClustersPerWindow, written, volumeEnd_ - base});
  // An answer that would not move the reading forward, or would take it back over clusters
  // already seen, or past the end the volume first gave, ends it: the list stays ordered and the
  // loop finite whatever the volume says.
  if (count <= 0 || base > lcn_ || base + count <= lcn_) return false;
  base_ = base;
  from_ = static_cast<std::uint32_t>(lcn_ - base);  // bits below the request were read before
  count_ = static_cast<std::uint32_t>(count);
  lcn_ = base + count;
  // A volume fills the window while clusters remain; a short one that came with success is the
  // last it has to give, one that came with ERROR_MORE_DATA held what its buffer let it write.
  ended_ = count < kClustersPerWindow && error == err::kSuccess;
  return true;
}

bool ScanFreeSpace(VolumeDevicePort& volume, char drive, TFreeRuns& runs) {
  runs.clear();
  DeviceHandle device(volume);
  // A path with no first character names no drive: "\\.\:" fails to open like any other.
  OpenVolumeOrRaise(volume, (drive ? std::string(1, drive) : std::string()) + ':', device);
  BitmapWindowReader reader(volume, device.Get());
  std::size_t added = 0;  // by the window before
  // A window adds at most one run for every two of its clusters.
  while (runs.size() <= kMaxFreeRuns - kClustersPerWindow / 2 && reader.Next()) {
    // When the room left is less than the window before added, the list grows four times at a
    // time, not two: a badly fragmented volume's list of many megabytes is then copied a third as
    // often, and fewer fresh pages are touched on the way. A list with few runs grows as it would.
    if (runs.capacity() - runs.size() < added) {
      runs.reserve(std::min(runs.capacity() * 4, kMaxFreeRuns));
    }
    const std::size_t before = runs.size();
    AddFreeRunsOfWindow(runs, reader.Bits(), reader.Base(), reader.From(), reader.Count());
    added = runs.size() - before;
  }
  LeaveOutMftZone(volume, device.Get(), runs);
  return true;
}

TFreeRun* FindFreeRun(TFreeRuns& runs, std::uint32_t needed) {
  // The sum is formed in 64 bits, so a huge count cannot wrap round to a small demand.
  const std::int64_t demand = static_cast<std::int64_t>(needed) + 4;
  for (auto it = runs.rbegin(); it != runs.rend(); ++it) {
    if (it->ClusterCount >= demand) return &*it;
  }
  return nullptr;
}

}  // namespace kestrava
