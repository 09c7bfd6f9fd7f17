#include "defrag/free_runs.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "defrag/fsctl_layout.h"
#include "defrag/volume_open.h"

namespace kestrava {
namespace {

int TrailingZeros(std::uint64_t word) { return __builtin_ctzll(word); }  // word != 0

// Walks one window's bits, keeping the start of the free run that is open, if any.
class WindowScan {
 public:
  WindowScan(TFreeRuns& runs, std::int64_t baseLcn) : runs_(runs), base_(baseLcn) {}

  // Bits of one 64-bit word, cluster base + offset + i for bit i; a set bit is in use.
  void Word(std::uint32_t offset, std::uint64_t used) {
    if (used == 0) {  // all free: the open run goes on, or one opens here
      if (open_ < 0) open_ = offset;
      return;
    }
    if (used == ~std::uint64_t{0}) {
      Close(offset);
      return;
    }
    int bit = 0;
    while (bit < 64) {
      if (open_ >= 0) {  // look for the next cluster in use
        const std::uint64_t rest = used >> bit;
        if (rest == 0) return;
        bit += TrailingZeros(rest);
        Close(offset + bit);
      } else {  // look for the next free cluster
        const std::uint64_t rest = ~used >> bit;
        if (rest == 0) return;
        bit += TrailingZeros(rest);
        open_ = offset + bit;
      }
    }
  }

  bool Open() const { return open_ >= 0; }

  void Close(std::int64_t end) {
    if (open_ < 0) return;
    AddFreeRun(runs_, base_ + open_, end - open_);
    open_ = -1;
  }

 private:
  TFreeRuns& runs_;
  std::int64_t base_;
  std::int64_t open_ = -1;  // window offset of the open run's first cluster
};

}  // namespace

void AddFreeRun(TFreeRuns& runs, std::int64_t startLcn, std::int64_t clusterCount) {
  if (!runs.empty() && runs.back().StartLcn + runs.back().ClusterCount == startLcn) {
    runs.back().ClusterCount += clusterCount;
  } else {
    // Field by field: a whole TFreeRun built on the stack and copied in is written as two 8-byte
    // stores read back as one 16-byte load, a stall that cost a fifth of the scan.
    TFreeRun& run = runs.emplace_back();
    run.StartLcn = startLcn;
    run.ClusterCount = clusterCount;
  }
}

void AddFreeRunsOfWindow(TFreeRuns& runs, const unsigned char* bitmap, std::int64_t baseLcn,
                         std::uint32_t from, std::uint32_t count) {
  if (from >= count) return;
  WindowScan scan(runs, baseLcn);
  const std::uint32_t wholeWords = count / 64;
  const auto load = [bitmap](std::uint32_t i) {
    std::uint64_t word;
    std::memcpy(&word, bitmap + i * 8, sizeof word);
    return word;
  };
  std::uint32_t i = from / 64;
  if (from % 64 != 0 && i < wholeWords) {
    scan.Word(i * 64, load(i) | ((std::uint64_t{1} << (from % 64)) - 1));  // before from: not ours
    ++i;
  }
  while (i < wholeWords) {
    // Words that change nothing (all in use while no run is open, all free while one is) are
    // passed over in a tight loop of their own: they are most of a volume.
    const std::uint64_t unchanged = scan.Open() ? 0 : ~std::uint64_t{0};
    while (i < wholeWords && load(i) == unchanged) ++i;
    if (i == wholeWords) break;
    scan.Word(i * 64, load(i));
    ++i;
  }
  if (const std::uint32_t tail = count % 64) {
    std::uint64_t word = 0;
    std::memcpy(&word, bitmap + wholeWords * 8, (tail + 7) / 8);
    word |= ~std::uint64_t{0} << tail;  // clusters past the window count as in use
    if (wholeWords == from / 64) word |= (std::uint64_t{1} << (from % 64)) - 1;
    scan.Word(wholeWords * 64, word);
  }
  scan.Close(count);
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
  // A window adds at most one run for every two of its clusters.
  while (runs.size() <= kMaxFreeRuns - kClustersPerWindow / 2 && reader.Next()) {
    AddFreeRunsOfWindow(runs, reader.Bits(), reader.Base(), reader.From(), reader.Count());
  }
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
