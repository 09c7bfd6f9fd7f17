#include "defrag/free_runs.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "defrag/bitmap_answer.h"
#include "defrag/changing_words.h"
#include "defrag/fsctl_layout.h"
#include "defrag/mft_zone.h"
#include "defrag/volume_open.h"

namespace kestrava {
namespace {

// The bitmap is read in words of 32 bits (see kMarkedWords): bit i of word k is cluster 32k + i
// of the window.
constexpr std::uint32_t kWordBits = 32;
constexpr std::uint32_t kTopBit = std::uint32_t{1} << 31;

int TrailingZeros(std::uint32_t word) { return __builtin_ctz(word); }  // word != 0

std::uint32_t LoadWord(const unsigned char* words, std::uint32_t k) {
  std::uint32_t word;
  std::memcpy(&word, words + k * 4, sizeof word);
  return word;
}

// The window offsets where the bitmap changes between in use and free, in order, turned into
// runs in batches. Bits before the window's first word count as in use, so the first change opens
// a run, the next closes it, and so on.
class ChangeList {
 public:
  ChangeList(TFreeRuns& runs, std::int64_t baseLcn) : runs_(runs), base_(baseLcn) {}

  // Bits of one word, cluster base + offset + i for bit i (a set bit is in use), after the word
  // before (only its top bit counts).
  void Word(std::uint32_t offset, std::uint32_t used, std::uint32_t before) {
    const std::uint32_t changes = Changes(used, before);
    if (changes != 0)
      size_ = static_cast<std::uint32_t>(List(offsets_ + size_, offset, changes) - offsets_);
  }

  // The words of bitmap from word i on that changing marks (bit j for word i + j), each known to
  // change something: where the scan spends most of its time.
  void AddChangingWords(const unsigned char* bitmap, std::uint32_t i, std::uint32_t changing) {
    // Room for a group of words that change everywhere, the window's last word after them, and
    // the two places written whatever a word holds.
    if (size_ > kCapacity - (kMarkedWords + 1) * kWordBits - 2) Flush();
    // Kept in registers: a store to offsets_ cannot change them.
    std::uint16_t* out = offsets_ + size_;
    const unsigned char* words = bitmap + i * 4;
    const std::uint32_t offset = i * kWordBits;
    for (; changing != 0; changing &= changing - 1) {
      const std::uint32_t j = static_cast<std::uint32_t>(TrailingZeros(changing));
      out = List(out, offset + j * kWordBits, Changes(LoadWord(words, j), LoadWord(words - 4, j)));
    }
    size_ = static_cast<std::uint32_t>(out - offsets_);
  }

  // Closes a run still open at end and adds every run.
  void Finish(std::uint32_t end) {
    if (size_ % 2 != 0) offsets_[size_++] = static_cast<std::uint16_t>(end);
    Flush();
  }

 private:
  static constexpr std::uint32_t kCapacity = 5120;

  // A set bit for each cluster of the word that differs from the one before it.
  static std::uint32_t Changes(std::uint32_t used, std::uint32_t before) {
    return used ^ ((used << 1) | (before >> 31));
  }

  // Lists at out the places of a word's changes (not none), and gives the end of what it wrote.
  // A word that changes mostly changes once or twice: both places are written whatever the word
  // holds and only the count depends on it, so no branch has to guess how many there are. (The
  // top bit makes the count of trailing zeros defined; where it changes the answer, the place is
  // not counted.)
  static std::uint16_t* List(std::uint16_t* out, std::uint32_t offset, std::uint32_t changes) {
    const std::uint32_t rest = changes & (changes - 1);
    out[0] = static_cast<std::uint16_t>(offset + TrailingZeros(changes));
    out[1] = static_cast<std::uint16_t>(offset + TrailingZeros(rest | kTopBit));
    // 2 when the word changes again, else 1: as 2 - (rest == 0) a compare and a subtract with
    // borrow where GCC keeps it so; as 1 + (rest != 0), it made it one branch with the loop below.
    out += 2 - static_cast<std::uint32_t>(rest == 0);
    for (std::uint32_t more = rest & (rest - 1); more != 0; more &= more - 1) {
      *out++ = static_cast<std::uint16_t>(offset + TrailingZeros(more));
    }
    return out;
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
                         std::uint32_t from, std::uint32_t count, MarkChangingWordsFn mark) {
  if (from >= count) return;
  ChangeList changes(runs, baseLcn);
  const std::uint32_t words = (count + kWordBits - 1) / kWordBits;
  const std::uint32_t tail = count % kWordBits;
  const std::uint32_t first = from / kWordBits;
  // The first and the last word may hold bits that are not ours: those count as in use.
  const auto edgeWord = [&](std::uint32_t i) {
    std::uint32_t word = 0;
    if (i + 1 == words && tail != 0) {
      std::memcpy(&word, bitmap + i * 4, (tail + 7) / 8);
      word |= ~std::uint32_t{0} << tail;
    } else {
      word = LoadWord(bitmap, i);
    }
    if (i == first) word |= (std::uint32_t{1} << (from % kWordBits)) - 1;
    return word;
  };
  changes.Word(first * kWordBits, edgeWord(first), ~std::uint32_t{0});
  // The words between are marked in groups, all at once; the last group may overlap the one
  // before, whose words are then left out.
  const std::uint32_t whole = tail != 0 ? words - 1 : words;
  std::uint32_t i = first + 1;
  if (i + kMarkedWords <= whole) {
    std::uint32_t marks[kClustersPerWindow / kWordBits / kMarkedWords];
    const std::uint32_t groups = (whole - i) / kMarkedWords;
    mark(bitmap, i, groups, marks);
    for (std::uint32_t g = 0; g < groups; ++g, i += kMarkedWords) {
      changes.AddChangingWords(bitmap, i, marks[g]);
    }
    if (i < whole) {
      const std::uint32_t start = whole - kMarkedWords;
      mark(bitmap, start, 1, marks);
      changes.AddChangingWords(bitmap, start, marks[0] & (~std::uint32_t{0} << (i - start)));
      i = whole;
    }
  }
  for (; i < whole; ++i) changes.Word(i * kWordBits, LoadWord(bitmap, i), LoadWord(bitmap, i - 1));
  if (i < words) changes.Word(i * kWordBits, edgeWord(i), LoadWord(bitmap, i - 1));
  changes.Finish(count);
}

bool BitmapWindowReader::Next() {
  if (ended_ || callsLeft_-- <= 0) return false;
  ended_ = true;  // until this answer shows otherwise
  // Only the head is cleared (AskVolumeBitmap): no bit past what the volume wrote is ever read
  // (see count), and clearing the whole window each time would cost as much as the answer itself.
  // The answer is the volume's: its StartingLcn is used (a volume may round the request down), and
  // no more bits are scanned than the window holds, the volume has, or it wrote.
  BitmapAnswer answer;
  if (!AskVolumeBitmap(volume_, device_, lcn_, window_, sizeof window_, answer)) return false;
  const std::int64_t base = answer.base;
  const std::int64_t bitmapSize = answer.size;
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
  const std::int64_t count =
      std::min({bitmapSize, kClustersPerWindow, answer.written, volumeEnd_ - base});
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
  ended_ = count < kClustersPerWindow && answer.error == err::kSuccess;
  return true;
}

bool ScanFreeSpace(VolumeDevicePort& volume, char drive, TFreeRuns& runs) {
  runs.clear();
  DeviceHandle device(volume);
  // A path with no first character names no drive: "\\.\:" fails to open like any other.
  OpenVolumeOrRaise(volume, (drive ? std::string(1, drive) : std::string()) + ':', device);
  BitmapWindowReader reader(volume, device.Get());
  const MarkChangingWordsFn mark = MarkChangingWordsForThisProcessor();
  std::size_t added = 0;  // by the window before
  // A window adds at most one run for every two of its clusters.
  while (runs.size() <= kMaxFreeRuns - kClustersPerWindow / 2 && reader.Next()) {
    // When the room left is less than the window before added, the list grows to the runs the
    // whole volume would hold at the rate of the part read, and an eighth more, or to four times
    // its room when that is more. Each page of a list is fresh memory that the system clears and
    // maps when it is first written (for the 16 MiB of a million runs, as long as the rest of the
    // scan took), and a list grown in steps pays for the pages of every step, and copies them,
    // as well as for the last; room never written costs no page.
    if (runs.capacity() - runs.size() < added) {
      const std::int64_t read = reader.Base() + reader.From();  // where the runs so far came from
      const std::int64_t expected =
          read > 0 ? static_cast<std::int64_t>(runs.size()) * reader.End() / read : 0;
      const std::int64_t room = std::min<std::int64_t>(expected + expected / 8, kMaxFreeRuns);
      runs.reserve(
          std::min(std::max(runs.capacity() * 4, static_cast<std::size_t>(room)), kMaxFreeRuns));
    }
    const std::size_t before = runs.size();
    AddFreeRunsOfWindow(runs, reader.Bits(), reader.Base(), reader.From(), reader.Count(), mark);
    added = runs.size() - before;
  }
  LeaveOutMftZone(volume, device.Get(), runs);
  // A volume whose first part is more fragmented than the rest gives back the room it did not
  // need: a list holds at most four times what its runs take, as when it grew fourfold.
  if (runs.capacity() / 4 > runs.size()) runs.shrink_to_fit();
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
