// Extent maps no file system should give: counts beyond the buffer, maps that go backwards (as
// Wine's placeholder does), "more data" that never ends, more clusters than the item was measured
// with. The engine must stay inside its buffers (the sanitizers watch), end its loops, and never
// move more than the run it chose holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "defrag/fast_defrag_engine.h"
#include "defrag/fsctl_layout.h"
#include "common/error.h"
#include "common/system_message.h"
#include "tests/doubles/debug_recorder.h"
#include "tests/doubles/memory_file_system.h"
#include "tests/doubles/scripted_volume.h"

namespace kestrava {
namespace {

struct Extents {
  const char* what;
  std::uint32_t extentCount;  // as claimed
  std::int64_t startingVcn;
  std::vector<std::pair<std::int64_t, std::int64_t>> extents;  // NextVcn, Lcn as written
  std::uint32_t returned;                                      // 0: the true length
  WinError error;
  bool advanceEachCall;  // each answer starts where the last one ended
  // Expected of IsFileContiguous:
  bool contiguous;
  std::int64_t clusters;
  int maxCalls;
};

// Answers the bitmap with one free run of 96 clusters at LCN 1000 and the extent reads from c.
testing::ScriptedVolume::Answer Answering(const Extents& c, int& extentCalls, int& moves) {
  return [&c, &extentCalls, &moves](std::uint32_t code, const unsigned char* in, std::uint32_t,
                                    unsigned char* out, std::uint32_t outLength,
                                    std::uint32_t* returned) -> WinError {
    if (code == fsctl::kGetVolumeBitmap) {
      if (fsctl::ReadInt64(in, 0) != 0) return err::kInvalidParameter;
      fsctl::WriteInt64(out, 0, 0);
      fsctl::WriteInt64(out, 8, 2048);
      std::memset(out + 16, 0xFF, 256);
      std::memset(out + 16 + 1000 / 8, 0, 100 / 8);
      *returned = 16 + 256;
      return err::kSuccess;
    }
    if (code == fsctl::kMoveFile) {
      ++moves;
      return err::kSuccess;
    }
    const std::int64_t shift = c.advanceEachCall ? fsctl::ReadInt64(in, 0) : 0;
    ++extentCalls;
    fsctl::WriteUInt32(out, 0, c.extentCount);
    fsctl::WriteInt64(out, 8, c.startingVcn + shift);
    std::size_t at = 16;
    for (const auto& [next, lcn] : c.extents) {
      if (at + 16 > outLength) break;
      fsctl::WriteInt64(out, at, next + shift);
      fsctl::WriteInt64(out, at + 8, lcn);
      at += 16;
    }
    *returned = c.returned ? c.returned : static_cast<std::uint32_t>(at);
    return c.error;
  };
}

// An engine on a volume answering as Answering does for answer, its debug lines recorded, its
// extent reads and moves counted. The engine asks the cluster size at its first use, so a test
// may still set the volume's before then.
struct ScriptedEngine {
  explicit ScriptedEngine(const Extents& answer, SearchPorts search = {}) : engine(Ports(search)) {
    volume.answer = Answering(answer, extentCalls, moves);
  }
  testing::DebugRecorder debug;
  testing::ScriptedVolume volume;
  int extentCalls = 0, moves = 0;
  TFastDefragEngine engine;

 private:
  DefragPorts Ports(const SearchPorts& search) {
    DefragPorts ports;
    ports.volume = &volume;
    ports.search = search;
    return ports;
  }
};

TEST(HostileExtentMaps, AreReadWithinTheBufferAndEndTheirLoops) {
  const Extents cases[] = {
      {"Wine's placeholder: one extent ending before it starts",
       1,
       1,
       {{0, 0}},
       32,
       err::kSuccess,
       false,
       true,
       0,
       1},
      {"a count far beyond what was written",
       0xFFFFFFFFu,
       0,
       {{2, 500}, {4, 600}},
       0,
       err::kSuccess,
       false,
       false,
       4,
       1},
      {"bytes returned far beyond the buffer",
       3,
       0,
       {{2, 500}, {4, 502}},
       0xFFFFFFFFu,
       err::kSuccess,
       false,
       true,
       4,
       1},
      {"more data, but the same extents again",
       2,
       0,
       {{2, 500}, {4, 502}},
       0,
       err::kMoreData,
       false,
       true,
       4,
       2},
      {"more data forever, a little further each time",
       1,
       0,
       {{1, 700}},
       0,
       err::kMoreData,
       true,
       true,
       1025,
       1025},
      {"more data with no extent at all", 0, 0, {}, 0, err::kMoreData, false, true, 0, 1},
      {"a map that starts before VCN 0",
       2,
       -5,
       {{-1, 500}, {3, 600}},
       0,
       err::kSuccess,
       false,
       true,
       0,
       1},
  };
  for (const Extents& c : cases) {
    ScriptedEngine run(c);
    std::int64_t size = -1;
    EXPECT_EQ(run.engine.IsFileContiguous("C:\\G\\x.pak", true, size), c.contiguous) << c.what;
    EXPECT_EQ(size, c.clusters * 4096) << c.what;
    EXPECT_LE(run.extentCalls, c.maxCalls) << c.what;
    EXPECT_EQ(run.volume.openHandles, 0) << c.what;

    // Moving it anyway never takes more than the chosen run's 96 clusters.
    ASSERT_TRUE(run.engine.ScanFreeSpace('C'));
    bool noFreeSpace = false;
    run.engine.DefragFile(L"C:\\G\\x.pak", false, 4096, true, false, noFreeSpace);
    EXPECT_LE(run.moves, 96) << c.what;
    EXPECT_GE(run.engine.FreeRunList().at(0).ClusterCount, 0) << c.what;
    EXPECT_EQ(run.volume.openHandles, 0) << c.what;
    EXPECT_EQ(run.volume.clusterSizeCalls, 1) << c.what << ": the cluster size is learnt once";
  }
}

TEST(HostileExtentMaps, AnItemWithMoreClustersThanMeasuredStopsAtTheRunsEnd) {
  // Measured as 2 clusters, the item is given the run of 96; its map then shows 5,500 real
  // clusters. The first piece of 64 fits, the second no longer does.
  const Extents grown{"grown", 2, 0, {{500, 100}, {1000, 5000}}, 0, err::kSuccess, false,
                      false,   0, 1};
  ScriptedEngine run(grown);
  ASSERT_TRUE(run.engine.ScanFreeSpace('C'));
  bool noFreeSpace = false;
  EXPECT_FALSE(run.engine.DefragFile(L"C:\\G\\x.pak", false, 2 * 4096, true, false, noFreeSpace));
  EXPECT_EQ(run.moves, 1);
  EXPECT_TRUE(noFreeSpace);
  EXPECT_EQ(run.debug.Lines().back(), "Tarnwell:Defrag File Error:Fail to get the free space!");
  EXPECT_EQ(run.engine.FreeRunList().at(0).ClusterCount, 32);
}

TEST(HostileExtentMaps, AReadDeniedFailsTheItemAndAnyOtherErrorEndsItsMapAsDone) {
  const struct {
    WinError error;
    bool result;
  } cases[] = {{err::kAccessDenied, false}, {38, true}, {err::kInvalidParameter, true}};
  for (const auto& c : cases) {
    const Extents answer{"", 2, 0, {{2, 500}, {4, 600}}, 0, c.error, false, false, 0, 1};
    ScriptedEngine run(answer);
    ASSERT_TRUE(run.engine.ScanFreeSpace('C'));
    bool noFreeSpace = false;
    EXPECT_EQ(run.engine.DefragFile(L"C:\\G\\x.pak", false, 4096, true, false, noFreeSpace),
              c.result)
        << c.error;
    EXPECT_EQ(run.moves, 0) << c.error;
    EXPECT_EQ(run.debug.Lines().size(), 2u) << c.error << ": the chosen run's lines only";
    EXPECT_EQ(run.volume.openHandles, 0) << c.error;
  }
}

TEST(HostileExtentMaps, SizesAndLcnsPastTheLargestNumberAreHeldNotWrapped) {
  constexpr std::int64_t kMost = std::numeric_limits<std::int64_t>::max();
  // 1,025 extents of 2^32 - 1 clusters of 2 MiB: more bytes than an int64 holds.
  Extents huge{"allocation past 2^63 bytes", 1025, 0, {}, 0, err::kSuccess, false, true, 0, 1};
  for (std::int64_t i = 1; i <= 1025; ++i) {
    huge.extents.push_back({i * 0xFFFFFFFF, 100 + (i - 1) * 0xFFFFFFFF});
  }
  // An extent that would end past the largest LCN, then one where a wrapped end would be.
  const Extents wrapping{"an extent ending past the largest LCN",
                         2,
                         0,
                         {{4, kMost - 1}, {8, std::numeric_limits<std::int64_t>::min() + 2}},
                         0,
                         err::kSuccess,
                         false,
                         false,
                         0,
                         1};
  const struct {
    const Extents& answer;
    std::uint32_t clusterSize;
    std::int64_t size;
    bool defragged;  // moved and seen contiguous after
  } cases[] = {{huge, 2 * 1024 * 1024, kMost, false}, {wrapping, 4096, 8 * 4096, false}};
  for (const auto& c : cases) {
    ScriptedEngine run(c.answer);
    run.volume.clusterSize = c.clusterSize;
    std::int64_t size = -1;
    EXPECT_EQ(run.engine.IsFileContiguous("C:\\G\\x.pak", true, size), c.answer.contiguous)
        << c.answer.what;
    EXPECT_EQ(size, c.size) << c.answer.what;
    // Moved into the run of 96 as far as it goes: the map read again is not contiguous.
    ASSERT_TRUE(run.engine.ScanFreeSpace('C'));
    bool noFreeSpace = false;
    EXPECT_EQ(run.engine.DefragFile(L"C:\\G\\x.pak", false, 4096, true, false, noFreeSpace),
              c.defragged)
        << c.answer.what;
  }
  // Growth room on a size already the largest: no run has room for it.
  ScriptedEngine run(wrapping);
  ASSERT_TRUE(run.engine.ScanFreeSpace('C'));
  bool noFreeSpace = false;
  EXPECT_FALSE(run.engine.DefragFile(L"C:\\G\\x.txt", false, kMost, true, true, noFreeSpace));
  EXPECT_TRUE(noFreeSpace);
  EXPECT_EQ(run.moves, 0);
}

// Bitmap answers from a volume that claims more than NTFS has, or answers a byte at a time: the
// scan reads no more than the largest volume in full windows, and keeps a list a 32-bit process
// can hold.
TEST(HostileBitmaps, TheScanIsBoundedByTheLargestVolumeAndTheListByItsMost) {
  constexpr std::int64_t kWindows = kMaxVolumeClusters / kClustersPerWindow;
  const struct {
    const char* what;
    std::int64_t bitmapSize;  // claimed by every answer
    std::uint32_t bytes;      // of bitmap an answer holds
    WinError error;
    unsigned char pattern;
    std::int64_t answeredCalls;  // the volume answers 87 after these
    std::int64_t calls;          // at most
    std::int64_t runs;           // 0: at most kMaxFreeRuns
    std::int64_t firstRunClusters;
  } cases[] = {
      {"2^62 clusters, every window full and free", std::int64_t{1} << 62, 4096, err::kSuccess,
       0x00, 200000, kWindows + 1, 1, kMaxVolumeClusters},
      {"2^62 clusters, a byte a call with more data", std::int64_t{1} << 62, 1, err::kMoreData,
       0x00, 1000000, kWindows + 1, 1, 8 * (kWindows + 1)},
      {"every other cluster free on 300 windows", 300 * kClustersPerWindow, 4096, err::kSuccess,
       0xAA, 300, 300, 0, 1},
  };
  for (const auto& c : cases) {
    testing::ScriptedVolume volume;
    std::int64_t calls = 0;
    volume.answer = [&](std::uint32_t, const unsigned char* in, std::uint32_t, unsigned char* out,
                        std::uint32_t outLength, std::uint32_t* returned) -> WinError {
      const std::int64_t lcn = fsctl::ReadInt64(in, 0);
      if (++calls > c.answeredCalls || lcn >= c.bitmapSize) return err::kInvalidParameter;
      fsctl::WriteInt64(out, 0, lcn);
      fsctl::WriteInt64(out, 8, c.bitmapSize - lcn);
      const std::uint32_t bytes = std::min(c.bytes, outLength - 16);
      std::memset(out + 16, c.pattern, bytes);
      *returned = 16 + bytes;
      return c.error;
    };
    TFreeRuns runs;
    ASSERT_TRUE(ScanFreeSpace(volume, 'C', runs)) << c.what;
    EXPECT_LE(calls, c.calls) << c.what;
    if (c.runs != 0) {
      EXPECT_EQ(static_cast<std::int64_t>(runs.size()), c.runs) << c.what;
    } else {
      EXPECT_LE(runs.size(), kMaxFreeRuns) << c.what;
      EXPECT_GT(runs.size(), kMaxFreeRuns / 2) << c.what;
    }
    ASSERT_FALSE(runs.empty()) << c.what;
    EXPECT_EQ(runs[0].StartLcn, 0) << c.what;
    EXPECT_EQ(runs[0].ClusterCount, c.firstRunClusters) << c.what;
    EXPECT_EQ(volume.openHandles, 0) << c.what;
  }
}

TEST(ClusterSize, AnUnknownSizeMovesNothingAndAFailedQueryEndsTheFolderRun) {
  testing::MemoryFileSystem files;
  files.AddFile("C:\\G\\a.pak", 8192);
  const Extents fragmented{"", 2, 0, {{2, 500}, {4, 600}}, 0, err::kSuccess, false, false, 4, 1};
  {  // a volume that says its clusters have no size: nothing to measure, nothing moved or logged
    ScriptedEngine run(fragmented);
    run.volume.clusterSize = 0;
    std::int64_t size = -1;
    EXPECT_TRUE(run.engine.IsFileContiguous("C:\\G\\a.pak", true, size));
    EXPECT_EQ(size, 0);
    bool noFreeSpace = false;
    EXPECT_FALSE(run.engine.DefragFile(L"C:\\G\\a.pak", false, 8192, true, true, noFreeSpace));
    EXPECT_EQ(run.extentCalls + run.moves, 0);
    EXPECT_TRUE(run.debug.Lines().empty());
  }
  {  // the query fails: its error leaves the folder run, after the search has ended
    ScriptedEngine run(fragmented, {&files, &files});
    run.volume.clusterSizeError = err::kPathNotFound;
    try {
      run.engine.DefragFolder("C:\\G", false);
      ADD_FAILURE() << "no exception";
    } catch (const KestravaError& e) {
      EXPECT_EQ(std::string(e.what()), "Df Error 2009" + SystemMessage(err::kPathNotFound));
    }
    EXPECT_EQ(run.volume.openHandles, 0);
    EXPECT_EQ(files.openHandles, 0);
  }
}

}  // namespace
}  // namespace kestrava
