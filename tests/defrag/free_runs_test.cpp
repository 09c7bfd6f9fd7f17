// The free-run list: the word-at-a-time window scan against the bit-by-bit definition, the scan of
// a whole volume through the bitmap control code (windows, merging, the end), answers no volume
// should give, and the last-fit choice with its margin.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <random>
#include <vector>

#include "common/error.h"
#include "common/system_message.h"
#include "defrag/free_runs.h"
#include "defrag/fsctl_layout.h"
#include "tests/doubles/reference_free_runs.h"
#include "tests/doubles/scripted_volume.h"

namespace kestrava {

bool operator==(const TFreeRun& a, const TFreeRun& b) {
  return a.StartLcn == b.StartLcn && a.ClusterCount == b.ClusterCount;
}
std::ostream& operator<<(std::ostream& os, const TFreeRun& r) {
  return os << r.StartLcn << ":" << r.ClusterCount;
}

namespace {

using testing::ScriptedVolume;

// A bitmap of clusters, all in use except the given runs.
std::vector<unsigned char> Bitmap(std::int64_t clusters, const TFreeRuns& free) {
  std::vector<unsigned char> bits(static_cast<std::size_t>((clusters + 7) / 8), 0xFF);
  for (const TFreeRun& run : free) {
    for (std::int64_t c = run.StartLcn; c < run.StartLcn + run.ClusterCount; ++c) {
      bits[c / 8] &= static_cast<unsigned char>(~(1u << (c % 8)));
    }
  }
  return bits;
}

// Answers FSCTL_GET_VOLUME_BITMAP for a bitmap as Windows does: from the requested LCN, as many
// bytes as fit, ERROR_MORE_DATA while clusters remain, 87 past the end. Bits past the end of the
// volume in its last byte are left clear (free), as a volume may: the scan must clip them.
ScriptedVolume::Answer WindowsBitmap(const std::vector<unsigned char>& bits,
                                     std::int64_t clusters) {
  return [&bits, clusters](std::uint32_t code, const unsigned char* in, std::uint32_t,
                           unsigned char* out, std::uint32_t outLength, std::uint32_t* returned) {
    EXPECT_EQ(code, fsctl::kGetVolumeBitmap);
    const std::int64_t start = fsctl::ReadInt64(in, 0) / 8 * 8;
    if (start >= clusters) return err::kInvalidParameter;
    const std::size_t bytes = std::min<std::size_t>(outLength - 16, bits.size() - start / 8);
    fsctl::WriteInt64(out, 0, start);
    fsctl::WriteInt64(out, 8, clusters - start);
    std::memcpy(out + 16, bits.data() + start / 8, bytes);
    if (start + static_cast<std::int64_t>(bytes) * 8 >= clusters) {
      out[16 + bytes - 1] &=
          static_cast<unsigned char>((1u << (clusters % 8 ? clusters % 8 : 8)) - 1);
    }
    *returned = static_cast<std::uint32_t>(16 + bytes);
    return start + static_cast<std::int64_t>(bytes) * 8 < clusters ? err::kMoreData : err::kSuccess;
  };
}

TEST(FreeRunWindow, TheWordScanFindsWhatTheBitByBitDefinitionFinds) {
  std::mt19937_64 random(20261208);
  // Runs of both kinds up to `longest` clusters, so boundaries fall everywhere: a change in most
  // words, or several in one (up to 32, every cluster alternating), or whole words between.
  const int longests[] = {1, 2, 3, 9, 40, 64, 200, 1500};
  // Windows of a part of a word, of whole words, of one group of 32 words after the first word
  // (with a word's part after it or not) and of more, whose last group overlaps the one before;
  // reading from the start or from a cluster inside a word, on its first or last cluster, or in
  // the last word.
  const std::uint32_t counts[] = {1,    31,   32,   33,   64,   65,    1000,
                                  1056, 1057, 4160, 4161, 8256, 32767, 32768};
  for (int round = 0; round < 8 * 14 * 10; ++round) {
    std::vector<unsigned char> window(4096);
    const int longest = longests[round % 8];
    std::size_t bit = 0;
    bool used = random() & 1;
    while (bit < window.size() * 8) {
      const std::size_t length = 1 + random() % longest;
      for (std::size_t i = bit; i < std::min(bit + length, window.size() * 8); ++i) {
        if (used) window[i / 8] |= static_cast<unsigned char>(1u << (i % 8));
      }
      bit += length;
      used = !used;
    }
    const std::uint32_t count = counts[(round / 8) % 14];
    const std::uint32_t froms[] = {
        0, 1, 31, 32, 33, 63, 64, 65, count - 1, static_cast<std::uint32_t>(random() % count)};
    const std::uint32_t from = std::min(froms[(round / (8 * 14)) % 10], count - 1);
    const std::int64_t base = static_cast<std::int64_t>(random() % 1000000) * 8;
    // The clusters before from are not the window's: the definition sees them in use.
    std::vector<unsigned char> ours = window;
    for (std::uint32_t i = 0; i < from; ++i)
      ours[i / 8] |= static_cast<unsigned char>(1u << (i % 8));
    // A run already in the list that ends at the window's first cluster is continued by it.
    TFreeRuns bits{{base - 10, 10}};
    testing::ReferenceFreeRunsOfWindow(bits, ours.data(), base, count);
    // Each way of marking the words that change, whichever this processor would run: every
    // machine the tests run on (x86-64, and Wine there) has SSE2.
    for (const MarkChangingWordsFn mark : {MarkChangingWordsPortable, MarkChangingWordsSse2}) {
      TFreeRuns words{{base - 10, 10}};
      AddFreeRunsOfWindow(words, window.data(), base, from, count, mark);
      ASSERT_EQ(words, bits) << "round " << round << " from " << from << " count " << count
                             << " longest " << longest
                             << (mark == MarkChangingWordsSse2 ? " SSE2" : " portable");
    }
  }
}

TEST(FreeRunWindow, AProcessorWithSse2RunsTheSse2File) {
  // Every machine the tests run on has SSE2; a 32-bit Windows without it would run the portable
  // file, which the test above proves on the same bitmaps.
  EXPECT_EQ(MarkChangingWordsForThisProcessor(), MarkChangingWordsSse2);
}

TEST(ScanFreeSpace, ReadsTheWholeVolumeInWindowsAndMergesAcrossThemAndLeavesTheMftZoneOut) {
  // Where the volume says its MFT zone lies: an answer of 96 bytes with MftZoneStart and
  // MftZoneEnd; none: a volume that does not answer (FAT).
  struct Zone {
    std::int64_t start, end;
    std::uint32_t returned = 96;
    WinError error = err::kSuccess;
  };
  struct Case {
    const char* what;
    std::int64_t clusters;
    TFreeRuns free;
    std::optional<Zone> zone;
    std::optional<TFreeRuns> after;  // without: the free runs as they are
  } cases[] = {
      {"a run across the first window boundary is one entry",
       100000,
       {{100, 5}, {32760, 20}, {65530, 6}, {99000, 10}},
       std::nullopt,
       std::nullopt},
      {"a run that reaches the last cluster is recorded",
       70001,
       {{0, 1}, {69990, 11}},
       std::nullopt,
       std::nullopt},
      {"a volume with no free cluster gives an empty list", 40000, {}, std::nullopt, std::nullopt},
      {"a wholly free volume is one run", 98304, {{0, 98304}}, std::nullopt, std::nullopt},
      {"the zone inside a run splits it",
       98304,
       {{0, 98304}},
       Zone{12288, 24576},
       TFreeRuns{{0, 12288}, {24576, 73728}}},
      {"the zone over the end of one run, the whole of the next and the start of a third",
       100000,
       {{100, 50}, {200, 10}, {300, 100}, {99000, 10}},
       Zone{120, 350},
       TFreeRuns{{100, 20}, {350, 50}, {99000, 10}}},
      {"a zone from the start of one run to the end of another takes them and all between",
       100000,
       {{100, 10}, {200, 10}, {215, 10}, {300, 10}, {400, 10}},
       Zone{200, 310},
       TFreeRuns{{100, 10}, {400, 10}}},
      {"a zone that ends where a run begins takes none of it",
       100000,
       {{100, 50}},
       Zone{0, 100},
       std::nullopt},
      {"a zone past every run", 100000, {{100, 50}}, Zone{5000, 6000}, std::nullopt},
      {"an answer cut short is no zone", 100000, {{100, 50}}, Zone{0, 1000, 95}, std::nullopt},
      {"a failed answer is no zone", 100000, {{100, 50}}, Zone{0, 1000, 96, 122}, std::nullopt},
      {"a zone that ends before it begins is none",
       100000,
       {{100, 50}},
       Zone{130, 110},
       std::nullopt},
      {"a zone before LCN 0 is none", 100000, {{100, 50}}, Zone{-5, 120}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<unsigned char> bits = Bitmap(c.clusters, c.free);
    ScriptedVolume volume;
    volume.answer = WindowsBitmap(bits, c.clusters);
    int zoneCalls = 0;
    if (c.zone) {
      volume.volumeData = [&](std::uint32_t, const unsigned char*, std::uint32_t,
                              unsigned char* out, std::uint32_t outLength,
                              std::uint32_t* returned) {
        ++zoneCalls;
        EXPECT_GE(outLength, 96u);
        fsctl::WriteInt64(out, fsctl::kMftZoneStartOffset, c.zone->start);
        fsctl::WriteInt64(out, fsctl::kMftZoneEndOffset, c.zone->end);
        *returned = c.zone->returned;
        return c.zone->error;
      };
    }
    TFreeRuns runs{{1, 1}};  // a scan starts from an empty list
    EXPECT_TRUE(ScanFreeSpace(volume, 'D', runs));
    EXPECT_EQ(runs, c.after.value_or(c.free));
    EXPECT_EQ(zoneCalls, c.zone ? 1 : 0);
    EXPECT_EQ(volume.lastVolumePath, "\\\\.\\D:");
    EXPECT_EQ(volume.openHandles, 0);
  }
}

TEST(ScanFreeSpace, HoldsMemoryForTheRunsItFoundNotForTheWindowsItRead) {
  // Lists of a few thousand runs on a volume of 300 windows, which a 32-bit process should not
  // pay megabytes for: whether the runs are spread over every window, or all in the first ones,
  // from which the rest of the volume would look as fragmented.
  struct Case {
    const char* name;
    std::int64_t windowsWithRuns, runsPerWindow;
  };
  const Case cases[] = {{"a run in every window", 300, 1}, {"runs in the first two only", 2, 2000}};
  const std::int64_t clusters = 300 * kClustersPerWindow;
  for (const Case& c : cases) {
    TFreeRuns free;
    for (std::int64_t w = 0; w < c.windowsWithRuns; ++w) {
      for (std::int64_t r = 0; r < c.runsPerWindow; ++r) {
        free.push_back({w * kClustersPerWindow + 7 + r * 16, 1});
      }
    }
    const std::vector<unsigned char> bits = Bitmap(clusters, free);
    ScriptedVolume volume;
    volume.answer = WindowsBitmap(bits, clusters);
    TFreeRuns runs;
    EXPECT_TRUE(ScanFreeSpace(volume, 'C', runs)) << c.name;
    EXPECT_EQ(runs, free) << c.name;
    EXPECT_LE(runs.capacity(), 4 * free.size()) << c.name;
  }
}

TEST(ScanFreeSpace, AWindowCutShortWithMoreDataGoesOnAfterWhatItHeld) {
  // A volume that writes at most 1,000 bytes of bitmap an answer, with ERROR_MORE_DATA until
  // its end: 8,000 clusters a window.
  const std::int64_t clusters = 70001;
  const TFreeRuns free{{100, 5}, {7990, 20}, {40000, 3000}, {69990, 11}};
  const std::vector<unsigned char> bits = Bitmap(clusters, free);
  const ScriptedVolume::Answer windows = WindowsBitmap(bits, clusters);
  ScriptedVolume volume;
  volume.answer = [&](std::uint32_t code, const unsigned char* in, std::uint32_t inLength,
                      unsigned char* out, std::uint32_t outLength, std::uint32_t* returned) {
    return windows(code, in, inLength, out, std::min<std::uint32_t>(outLength, 16 + 1000),
                   returned);
  };
  TFreeRuns runs;
  EXPECT_TRUE(ScanFreeSpace(volume, 'C', runs));
  EXPECT_EQ(runs, free);
  EXPECT_EQ(volume.controlCalls, 9);  // the ninth, short and with success, is the last
}

TEST(ScanFreeSpace, AVolumeThatCannotBeOpenedRaisesAndOneWithNoBitmapGivesNoRuns) {
  ScriptedVolume denied;
  denied.openError = err::kAccessDenied;
  TFreeRuns runs;
  try {
    ScanFreeSpace(denied, 'C', runs);
    FAIL() << "no exception";
  } catch (const KestravaError& e) {
    EXPECT_EQ(std::string(e.what()),
              "CreateFile \\\\.\\C:\r\n" + SystemMessage(err::kAccessDenied));
  }

  ScriptedVolume noBitmap;  // as Wine's volumes answer
  noBitmap.answer = [](std::uint32_t, const unsigned char*, std::uint32_t, unsigned char*,
                       std::uint32_t, std::uint32_t*) { return err::kInvalidFunction; };
  EXPECT_TRUE(ScanFreeSpace(noBitmap, 'C', runs));
  EXPECT_TRUE(runs.empty());
  EXPECT_EQ(noBitmap.controlCalls, 1);
  EXPECT_EQ(noBitmap.openHandles, 0);
}

TEST(ScanFreeSpace, AnswersThatClaimTooMuchNeverMakeItReadOutsideOrLoopForever) {
  // Each answer writes a head and a bitmap of all-free bits; what it claims varies.
  struct Case {
    const char* what;
    std::int64_t base;        // StartingLcn answered, relative to the request
    std::int64_t bitmapSize;  // BitmapSize answered
    std::uint32_t returned;   // bytes returned
    WinError error;
    std::int64_t expectMaxLcn;  // no run may reach past this
    int expectMaxCalls;
  } cases[] = {
      {"BitmapSize far beyond what was returned", 0, 1LL << 40, 16 + 10, err::kSuccess, 80, 2},
      {"bytes returned beyond the buffer", 0, 32768, 100000, err::kSuccess, 32768, 2},
      {"success that never moves on", -1, 32768, 4112, err::kMoreData, 32768, 3},
      {"a StartingLcn beyond the request", 1000, 32768, 4112, err::kMoreData, 0, 1},
      {"an empty bitmap with more data", 0, 0, 16, err::kMoreData, 0, 1},
      {"a negative BitmapSize", 0, -5, 4112, err::kSuccess, 0, 1},
      {"a head cut short", 0, 32768, 8, err::kMoreData, 0, 1},
      {"more data forever, the volume growing", 0, 1LL << 62, 4112, err::kMoreData, 65536, 3},
  };
  for (const Case& c : cases) {
    ScriptedVolume volume;
    int calls = 0;
    volume.answer = [&](std::uint32_t, const unsigned char* in, std::uint32_t, unsigned char* out,
                        std::uint32_t outLength, std::uint32_t* returned) {
      ++calls;
      const std::int64_t asked = fsctl::ReadInt64(in, 0);
      // Always claims the full size from where it answers; only the first claim counts for the
      // case that grows, so it says 65,536 clusters first and more later.
      const std::int64_t size =
          std::string(c.what).find("growing") != std::string::npos && calls == 1 ? 65536
                                                                                 : c.bitmapSize;
      fsctl::WriteInt64(out, 0, c.base < 0 ? 0 : asked + c.base);
      fsctl::WriteInt64(out, 8, size);
      std::memset(out + 16, 0, outLength - 16);
      *returned = c.returned;
      return c.error;
    };
    TFreeRuns runs;
    EXPECT_TRUE(ScanFreeSpace(volume, 'C', runs)) << c.what;
    EXPECT_LE(calls, c.expectMaxCalls) << c.what;
    std::int64_t end = 0;
    for (const TFreeRun& run : runs) {
      EXPECT_GT(run.StartLcn, end == 0 ? -1 : end) << c.what << ": ordered, not touching";
      EXPECT_GT(run.ClusterCount, 0) << c.what;
      end = run.StartLcn + run.ClusterCount;
    }
    EXPECT_LE(end, c.expectMaxLcn) << c.what;
    EXPECT_EQ(volume.openHandles, 0) << c.what;
  }
}

TEST(FindFreeRun, TakesTheHighestRunWithRoomForTheItemAndAMarginOfFour) {
  TFreeRuns runs{{100, 500}, {900, 20}};
  struct Case {
    std::uint32_t needed;
    std::int64_t expectStart;  // -1: none
  } cases[] = {
      {10, 900},          // last fit, although the run at 100 is larger
      {16, 900},          // exactly needed + 4
      {17, 100},          // 20 is less than 17 + 4
      {496, 100},         // exactly needed + 4 again
      {497, -1},          // needed + 3 is never enough
      {0xFFFFFFFFu, -1},  // the margin cannot wrap a huge count round to a small one
  };
  for (const Case& c : cases) {
    TFreeRun* run = FindFreeRun(runs, c.needed);
    EXPECT_EQ(run ? run->StartLcn : -1, c.expectStart) << "needed " << c.needed;
  }
  // A run shrunk below the demand stays in the list and is passed over; a smaller item still fits.
  runs[1] = {915, 5};
  EXPECT_EQ(FindFreeRun(runs, 10)->StartLcn, 100);
  EXPECT_EQ(FindFreeRun(runs, 1)->StartLcn, 915);
  TFreeRuns none;
  EXPECT_EQ(FindFreeRun(none, 1), nullptr);
}

}  // namespace
}  // namespace kestrava
