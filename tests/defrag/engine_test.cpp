// The engine on the simulated volume: which items need a move, how a fragmented item is moved
// (pieces, targets, growth room, sparse ranges), every failure and its log lines, and the folder
// run with its events and abort points.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/error.h"
#include "common/system_message.h"
#include "common/wide.h"
#include "defrag/fast_defrag_engine.h"
#include "tests/doubles/debug_recorder.h"
#include "tests/doubles/watched_volume.h"
#include "tests/sim/simulated_volume.h"
#include "tests/sim/volume_file.h"

namespace kestrava {
namespace {

using sim::Extent;
using sim::MoveRequest;
using sim::SimulatedVolume;
using testing::WatchedVolume;

// An engine on a volume, recording its events as "skip PATH isFile size" / "progress PATH", the
// moves the volume was asked for, and the debug lines.
struct EngineRun {
  // With free runs given, every other cluster that no item owns is marked in use.
  explicit EngineRun(const std::string& volumeText, const std::vector<Extent>& free = {})
      : volume(sim::ReadVolumeText(volumeText)), recorder(volume) {
    if (!free.empty()) FillAllBut(free);
    DefragPorts ports;
    ports.volume = &recorder;
    ports.search.directory = &volume;
    ports.search.paths = &volume;
    engine = std::make_unique<TFastDefragEngine>(ports);
    engine->OnProgress = [this](DefragEngine&, bool& abort, const std::wstring& name) {
      events.push_back("progress " + WideToAnsi(name));
      if (static_cast<int>(events.size()) == abortAt) abort = true;
    };
    engine->OnSkipFile = [this](DefragEngine&, const std::wstring& name, bool& abort, bool isFile,
                                std::int64_t size) {
      events.push_back("skip " + WideToAnsi(name) + (isFile ? " 1 " : " 0 ") +
                       std::to_string(size));
      if (static_cast<int>(events.size()) == abortAt) abort = true;
    };
    volume.beforeMove = [this](const MoveRequest& m) {
      requests.push_back(m);
      moves.push_back(std::to_string(m.startingVcn) + "->" + std::to_string(m.startingLcn) + ":" +
                      std::to_string(m.clusterCount));
      return err::kSuccess;
    };
  }
  // DefragFile as the folder run calls it, with the size the contiguity test measured.
  bool Defrag(const std::string& path, bool isFile = true) {
    std::int64_t size = 0;
    engine->ScanFreeSpace(path[0]);
    engine->IsFileContiguous(path, isFile, size);
    noFreeSpace = false;
    return engine->DefragFile(AnsiToWide(path), false, size, isFile, true, noFreeSpace);
  }
  std::vector<std::string> Log() {
    std::vector<std::string> lines = debug.Lines();
    for (std::string& line : lines) line.erase(0, 9);  // "Tarnwell:"
    return lines;
  }

  void FillAllBut(const std::vector<Extent>& free) {
    std::uint64_t start = 0, length = 0;
    for (std::uint64_t c = 0; c <= volume.Clusters(); ++c) {
      bool keep = c == volume.Clusters() || volume.Bitmap().Test(c);
      for (const Extent& f : free)
        keep = keep || (c >= std::uint64_t(f.lcn) && c < f.lcn + f.count);
      if (!keep) {
        if (length == 0) start = c;
        ++length;
      } else if (length > 0) {
        volume.MarkUsed(start, length);
        length = 0;
      }
    }
  }

  SimulatedVolume volume;
  WatchedVolume recorder;
  std::unique_ptr<TFastDefragEngine> engine;
  testing::DebugRecorder debug;
  std::vector<std::string> events, moves;
  std::vector<MoveRequest> requests;
  int abortAt = 0;  // the event (counted from 1) whose handler sets abort
  bool noFreeSpace = false;
};

using Lines = std::vector<std::string>;

TEST(IsFileContiguous, JudgesTheRealExtentsAndCountsTheirBytes) {
  struct Case {
    const char* item;
    bool contiguous;
    std::int64_t size;
  } cases[] = {
      {"file C:\\G\\one extents 100:5", true, 5 * 4096},
      {"file C:\\G\\adjacent extents 100:5 105:3", true, 8 * 4096},
      {"file C:\\G\\gap extents 100:5 200:3", false, 8 * 4096},
      {"file C:\\G\\sparse-between extents 100:5 -1:9 105:3", true, 8 * 4096},
      {"file C:\\G\\sparse-gap extents 100:5 -1:9 300:3", false, 8 * 4096},
      {"file C:\\G\\lcn0 extents 0:2 300:3", true, 5 * 4096},  // LCN 0 is never compared on
      {"file C:\\G\\resident resident", true, 0},
      {"file C:\\G\\locked extents 100:1 300:1 locked", true, 0},
      {"file C:\\G\\denied extents 100:1 300:1 denied", true, 0},
  };
  for (const Case& c : cases) {
    EngineRun run(std::string("volume C clusters 5000 cluster_size 4096\n") + c.item + "\n");
    const std::string path = std::string(c.item).substr(5, std::string(c.item).find(' ', 5) - 5);
    std::int64_t size = -1;
    EXPECT_EQ(run.engine->IsFileContiguous(path, true, size), c.contiguous) << c.item;
    EXPECT_EQ(size, c.size) << c.item;
    EXPECT_EQ(run.engine->GetClusterCount(path, true), c.size / 4096) << c.item;
    EXPECT_EQ(run.volume.OpenHandles(), 0) << c.item;
    EXPECT_TRUE(run.Log().empty()) << c.item;
  }
}

TEST(IsFileContiguous, ABreakInAnEarlierAnswerStaysABreak) {
  // 4,096 extents, every second one out of line: the inspection buffer holds 4,095 a call, so
  // the last extent comes alone in a second answer, which must not make the file contiguous.
  std::string text = "volume C clusters 20000 cluster_size 4096\nfile C:\\G\\many extents";
  for (int i = 0; i < 4096; ++i) text += " " + std::to_string(100 + i * 3) + ":1";
  EngineRun run(text + "\n");
  std::int64_t size = 0;
  EXPECT_FALSE(run.engine->IsFileContiguous("C:\\G\\many", true, size));
  EXPECT_EQ(size, 4096 * 4096);
  EXPECT_EQ(run.volume.Counters().retrievalCalls, 2u);
}

TEST(DefragFile, MovesPiecesOfAtMost64ClustersBackToBackIntoTheHighestRunThatFits) {
  EngineRun run(
      "volume C clusters 5000 cluster_size 4096\n"
      "file C:\\G\\big.pak extents 10:150 500:10 -1:70 600:2\n",
      {{1000, 400}});
  EXPECT_TRUE(run.Defrag("C:\\G\\big.pak"));
  EXPECT_EQ(run.moves,
            (Lines{"0->1000:64", "64->1064:64", "128->1128:22", "150->1150:10", "230->1160:2"}));
  // One event before every piece, sparse pieces included (64, 6 of the sparse range's 70).
  EXPECT_EQ(run.events, Lines(7, "progress C:\\G\\big.pak"));
  EXPECT_EQ(run.Log(), (Lines{"New LCN for File:1000", "Lcn Count:400"}));
  EXPECT_EQ(run.volume.ExtentsOf("C:\\G\\big.pak"),
            (std::vector<Extent>{{1000, 160}, {-1, 70}, {1160, 2}}));
  EXPECT_EQ(run.engine->FreeRunList().back().StartLcn, 1162);
  EXPECT_EQ(run.engine->FreeRunList().back().ClusterCount, 238);
  EXPECT_TRUE(run.volume.Check().Ok());
  EXPECT_EQ(run.volume.OpenHandles(), 0);
}

TEST(DefragFile, GrowthRoomRaisesTheRunDemandedButTakesOnlyTheItemsClusters) {
  struct Case {
    const char* name;
    int clusters;
    int runTooSmall,
        runJustRight;  // free runs: the too small one lies higher, so last fit sees it first
  } cases[] = {
      {"NOTES.TXT", 3, 14, 15},      // 3 + 8 = 11 needed, 15 demanded
      {"game.log", 10, 141, 142},    // 10 + 128 = 138 needed, 142 demanded
      {"readme.doc", 2, 133, 134},   // 2 + 128
      {"data.pak", 4, 7, 8},         // no room to grow: 4 + 4
      {"archive.txt.bak", 4, 7, 8},  // only the last extension counts
  };
  for (const Case& c : cases) {
    const int half = c.clusters / 2 + (c.clusters % 2);
    const std::string item = std::string("C:\\G\\") + c.name;
    EngineRun run("volume C clusters 5000 cluster_size 4096\nfile " + item + " extents 10:" +
                      std::to_string(half) + " 20:" + std::to_string(c.clusters - half) + "\n",
                  {{1000, std::uint64_t(c.runJustRight)}, {3000, std::uint64_t(c.runTooSmall)}});
    EXPECT_TRUE(run.Defrag(item)) << c.name;
    EXPECT_EQ(run.Log(),
              (Lines{"New LCN for File:1000", "Lcn Count:" + std::to_string(c.runJustRight)}))
        << c.name;
    EXPECT_EQ(run.volume.ExtentsOf(item), (std::vector<Extent>{{1000, std::uint64_t(c.clusters)}}));
  }
}

TEST(DefragFile, FailuresAreLoggedAndEndTheItemWithWhatWasMovedKept) {
  const std::string volume =
      "volume C clusters 5000 cluster_size 4096\n"
      "file C:\\G\\a.pak extents 10:100 500:10\n"
      "file C:\\G\\fixed.bin extents 700:2 800:2 unmovable\n"
      "folder C:\\G\\Sub\\ extents 900:1 950:1\n"
      "folder C:\\G\\Empty\\\n";
  {  // the second move fails: the first piece stays moved, the failed one's target stays used up
    EngineRun run(volume, {{1000, 400}});
    run.volume.FailMoveAt(2);
    EXPECT_FALSE(run.Defrag("C:\\G\\a.pak"));
    EXPECT_EQ(run.Log(),
              (Lines{"New LCN for File:1000", "Lcn Count:400", "PrevVCN = 64", "FreeLcn = 1100",
                     "VCNCount = 36", "Defrag File Error:Move file C:\\G\\a.pak error: 5"}));
    EXPECT_EQ(run.volume.ExtentsOf("C:\\G\\a.pak"),
              (std::vector<Extent>{{1000, 64}, {74, 36}, {500, 10}}));
    EXPECT_EQ(run.engine->FreeRunList().back().StartLcn, 1100);
    EXPECT_TRUE(run.volume.Check().Ok());
  }
  {  // the file system refuses to move the item
    EngineRun run(volume, {{1000, 400}});
    EXPECT_FALSE(run.Defrag("C:\\G\\fixed.bin"));
    EXPECT_EQ(run.Log().back(), "Defrag File Error:Move file C:\\G\\fixed.bin error: 5");
  }
  {  // a folder is measured by its clusters and logged as a folder
    EngineRun run(volume, {{1000, 400}});
    EXPECT_TRUE(run.Defrag("C:\\G\\Sub", false));
    EXPECT_EQ(run.Log(), (Lines{"New LCN for Folder:1000", "Lcn Count:400"}));
  }
  {  // a folder without clusters has no size
    EngineRun run(volume, {{1000, 400}});
    EXPECT_FALSE(run.Defrag("C:\\G\\Empty", false));
    EXPECT_EQ(run.Log(), (Lines{"Fail to get file size:C:\\G\\Empty"}));
  }
  {  // no run large enough
    EngineRun run(
        "volume C clusters 5000 cluster_size 4096\nfile C:\\G\\a.pak extents 10:4 500:4\n",
        {{1000, 11}});
    EXPECT_FALSE(run.Defrag("C:\\G\\a.pak"));
    EXPECT_TRUE(run.noFreeSpace);
    EXPECT_EQ(run.Log(), (Lines{"Defrag File Error:Fail to get the free space!"}));
    EXPECT_TRUE(run.moves.empty());
  }
  {  // the item cannot be opened to move it
    EngineRun run(volume, {{1000, 400}});
    bool noFreeSpace = false;
    run.engine->ScanFreeSpace('C');
    EXPECT_FALSE(run.engine->DefragFile(L"C:\\G\\gone.pak", false, 8192, true, false, noFreeSpace));
    // The run chosen is logged before the item is opened.
    EXPECT_EQ(run.Log(), (Lines{"New LCN for File:1000", "Lcn Count:400",
                                "Defrag File Error:CreateFile C:\\G\\gone.pak\r\n" +
                                    SystemMessage(err::kFileNotFound)}));
  }
}

TEST(DefragFile, AHugeFileIsMovedThroughABoundedExtentBuffer) {
  // 280 million clusters: an extent buffer of one extent per cluster would be 4.5 GB.
  EngineRun run(
      "volume C clusters 300000000 cluster_size 512\n"
      "file C:\\G\\huge.bin extents 10:2 500:2\n");
  bool noFreeSpace = false;
  run.engine->ScanFreeSpace('C');
  EXPECT_TRUE(run.engine->DefragFile(L"C:\\G\\huge.bin", false, std::int64_t{280000000} * 512, true,
                                     false, noFreeSpace));
  EXPECT_EQ(run.moves, (Lines{"0->502:2", "2->504:2"}));
  EXPECT_LE(run.recorder.largestExtentBuffer, 65536u);
  EXPECT_EQ(run.volume.OpenHandles(), 0);

  // A folder of 5,001 real extents, a cluster of index between sparse ones each, the last of two:
  // its map takes three pages of 4,095 extents before the move and after it (the sparse ranges
  // stay), so the moves and the reading back must both go past the first page.
  std::string folder = "volume C clusters 40000 cluster_size 4096\nfolder C:\\G\\Many\\ extents";
  for (int i = 0; i < 5000; ++i) folder += " " + std::to_string(100 + 3 * i) + ":1 -1:1";
  folder += " 16000:2\n";
  const struct {
    const char* what;
    bool lastMovedInPart;
    const char* outcome;
  } many[] = {
      {"every piece moved", false, "moved 5002 "},
      {"the last piece moved in part", true, "moved partly 5001 Moved only partly: C:\\G\\Many"},
  };
  for (const auto& c : many) {
    SCOPED_TRACE(c.what);
    EngineRun big(folder, {{20000, 6000}});
    big.volume.beforeMove = [&](const MoveRequest& m) {
      big.volume.partialMoves = c.lastMovedInPart && m.startingVcn >= 10000;
      return err::kSuccess;
    };
    std::string outcome;
    big.engine->OnItemDone = [&](DefragEngine&, const DefragItemReport& r) {
      if (WideToAnsi(r.fileName) != "C:\\G\\Many") return;
      outcome = std::string(r.outcome == DefragItemOutcome::kMoved ? "moved " : "moved partly ") +
                std::to_string(r.clustersMoved) + " " + r.text;
    };
    big.engine->DefragFolder("C:\\G", false);
    EXPECT_EQ(outcome, c.outcome);
    EXPECT_EQ(big.volume.IsContiguous("C:\\G\\Many\\"), !c.lastMovedInPart);
    EXPECT_EQ(big.volume.ExtentsOf("C:\\G\\Many\\").front(), (Extent{20000, 1}));
    EXPECT_TRUE(big.volume.Check().Ok());
  }
}

TEST(DefragFile, AnAbortDuringAProgressEventStopsBeforeTheNextPiece) {
  EngineRun run(
      "volume C clusters 5000 cluster_size 4096\nfile C:\\G\\a.pak extents 10:150 500:10\n",
      {{1000, 400}});
  run.abortAt = 2;
  EXPECT_FALSE(run.Defrag("C:\\G\\a.pak"));
  EXPECT_EQ(run.moves, (Lines{"0->1000:64"}));
  EXPECT_EQ(run.events.size(), 2u);
  EXPECT_TRUE(run.engine->IsAborted());
  EXPECT_TRUE(run.volume.Check().Ok());
}

constexpr const char* kGame =
    "volume C clusters 20000 cluster_size 4096\n"
    "folder C:\\Games\\Foo\\ extents 300:1\n"
    "file C:\\Games\\Foo\\b.pak extents 400:3 410:3\n"
    "file C:\\Games\\Foo\\A.pak extents 420:2 430:2 attrs hidden,system\n"
    "file C:\\Games\\Foo\\tiny.txt resident\n"
    "file C:\\Games\\Foo\\open.dat extents 440:4 450:4 locked\n"
    "folder C:\\Games\\Foo\\Sub\\ extents 460:1 470:1\n"
    "file C:\\Games\\Foo\\Sub\\c.dat extents 480:2\n";

TEST(DefragFolder, ReportsEveryItemOnceAndPacksTheMovedOnesOneBehindTheOther) {
  EngineRun run(kGame, {{1000, 2000}});
  EXPECT_TRUE(run.engine->DefragFolder("C:\\Games\\Foo", false));
  // Per folder its own entries in NTFS order, then its subfolders.
  EXPECT_EQ(run.events, (Lines{
                            "progress C:\\Games\\Foo\\A.pak",
                            "progress C:\\Games\\Foo\\A.pak",
                            "progress C:\\Games\\Foo\\A.pak",
                            "progress C:\\Games\\Foo\\b.pak",
                            "progress C:\\Games\\Foo\\b.pak",
                            "progress C:\\Games\\Foo\\b.pak",
                            "skip C:\\Games\\Foo\\open.dat 1 0",
                            "progress C:\\Games\\Foo\\Sub",
                            "progress C:\\Games\\Foo\\Sub",
                            "progress C:\\Games\\Foo\\Sub",
                            "skip C:\\Games\\Foo\\tiny.txt 1 0",
                            "skip C:\\Games\\Foo\\Sub\\c.dat 1 0",
                        }));
  EXPECT_EQ(run.Log(), (Lines{"New LCN for File:1000", "Lcn Count:2000", "New LCN for File:1004",
                              "Lcn Count:1996", "New LCN for Folder:1010", "Lcn Count:1990"}));
  EXPECT_EQ(run.volume.ExtentsOf("C:\\Games\\Foo\\A.pak"), (std::vector<Extent>{{1000, 4}}));
  EXPECT_EQ(run.volume.ExtentsOf("C:\\Games\\Foo\\b.pak"), (std::vector<Extent>{{1004, 6}}));
  EXPECT_EQ(run.volume.ExtentsOf("C:\\Games\\Foo\\Sub\\"), (std::vector<Extent>{{1010, 2}}));
  EXPECT_EQ(run.volume.Counters().bitmapCalls, 1u) << "the free space is read once a run";
  EXPECT_TRUE(run.volume.Check().Ok());
  EXPECT_EQ(run.volume.OpenHandles() + run.volume.OpenFinds(), 0);
}

TEST(DefragFolder, FilesOnlyLeavesTheFoldersOut) {
  EngineRun run(kGame, {{1000, 2000}});
  EXPECT_TRUE(run.engine->DefragFolder("C:\\Games\\Foo", true));
  for (const std::string& event : run.events) EXPECT_EQ(event.find("Sub "), std::string::npos);
  EXPECT_EQ(run.volume.ExtentsOf("C:\\Games\\Foo\\Sub\\"),
            (std::vector<Extent>{{460, 1}, {470, 1}}));
}

TEST(DefragFolder, AnAbortStopsTheItemAndNoFurtherItemIsReported) {
  // Events 1-3: A.pak's two pieces and the event after it; 4-6 b.pak's; 7 open.dat's skip.
  // An abort inside an item still gets the event after the item; then nothing more.
  const struct {
    int abortAt;
    std::size_t events;
  } cases[] = {{1, 2}, {2, 3}, {3, 3}, {4, 5}, {7, 7}};
  for (const auto& c : cases) {
    EngineRun run(kGame, {{1000, 2000}});
    run.abortAt = c.abortAt;
    EXPECT_TRUE(run.engine->DefragFolder("C:\\Games\\Foo", false));
    EXPECT_EQ(run.events.size(), c.events) << "abort at " << c.abortAt;
    EXPECT_TRUE(run.volume.Check().Ok());
    EXPECT_EQ(run.volume.OpenHandles() + run.volume.OpenFinds(), 0);
  }
}

TEST(DefragFolder, PathsAUserMightTypeEndSoundly) {
  struct Case {
    std::string folder;
    const char* outcome;  // "raises", the count of events, or nullptr: any sound end
  } cases[] = {
      {"", "raises"},                      // no drive letter at all
      {"Q:\\Games", "raises"},             // a drive that does not exist
      {"\\\\server\\share\\x", "raises"},  // a UNC path: no drive letter
      {" C:\\Games\\Foo", "raises"},       // a leading blank is taken for the drive
      {"Games", "raises"},                 // relative: 'G' is no volume here
      {"C", "0"},                          // volume C, the folder "C" of the current directory
      {"C:\\Games\\Foo   ", nullptr},      // trailing blanks: as the path port resolves them
      {"C:\\Games\\Nothing", "0"},
      {"C:\\Games\\" + std::string(300, 'x'), "0"},
      {"C:\\Games\\Foo", "12"},
      {"c:\\games\\foo\\", "12"},
  };
  for (const Case& c : cases) {
    EngineRun run(kGame, {{1000, 2000}});
    bool raised = false;
    try {
      EXPECT_TRUE(run.engine->DefragFolder(c.folder, false)) << c.folder;
    } catch (const KestravaError& e) {
      raised = true;
      EXPECT_EQ(std::string(e.what()).rfind("CreateFile \\\\.\\", 0), 0u) << c.folder;
    }
    if (c.outcome) {
      EXPECT_EQ(raised ? std::string("raises") : std::to_string(run.events.size()), c.outcome)
          << "'" << c.folder << "'";
    }
    EXPECT_TRUE(run.volume.Check().Ok()) << c.folder;
    EXPECT_EQ(run.volume.OpenHandles() + run.volume.OpenFinds(), 0) << c.folder;
  }
}

TEST(DefragFolder, GrowthRoomGoesToFilesByTheirOwnExtensionOnly) {
  // Runs: 1000:142, room for a 10-cluster log file and its growth room; 3000:14, the last fit
  // without it.
  const struct {
    const char* item;
    const char* placed;
  } cases[] = {
      {"file C:\\G\\game.log extents 10:5 20:5", "New LCN for File:1000"},
      {"folder C:\\G\\Logs.log\\ extents 10:5 20:5", "New LCN for Folder:3000"},
      {"file C:\\G\\old.log\\game extents 10:5 20:5", "New LCN for File:3000"},
  };
  for (const auto& c : cases) {
    EngineRun run(std::string("volume C clusters 5000 cluster_size 4096\n") + c.item + "\n",
                  {{1000, 142}, {3000, 14}});
    EXPECT_TRUE(run.engine->DefragFolder("C:\\G", false));
    ASSERT_FALSE(run.Log().empty()) << c.item;
    EXPECT_EQ(run.Log()[0], c.placed) << c.item;
  }
}

TEST(DefragFolder, AnAbortedEngineStaysAbortedInItsNextRun) {
  EngineRun run(kGame, {{1000, 2000}});
  run.abortAt = 1;
  EXPECT_TRUE(run.engine->DefragFolder("C:\\Games\\Foo", false));
  run.events.clear();
  EXPECT_TRUE(run.engine->DefragFolder("C:\\Games\\Foo", false));
  EXPECT_EQ(run.events, (Lines{"progress C:\\Games\\Foo\\A.pak"}));
}

TEST(DefragFolder, AFailedMoveCostsTheRunOnlyWhatIsProvenUnusable) {
  // a.pak, b.pak and c.pak (4 clusters each, in two pieces) go to the last fit, 3000:100, unless
  // a failed move sets it aside; then to 1000:100.
  const struct {
    const char* what;
    WinError error;  // of the first move of each item in refused
    std::vector<std::string> refused;
    std::vector<Extent> taken;      // by another program, just before a.pak's first move
    Lines outcome;                  // the run chosen for each item and each failure line
    std::uint32_t shortBitmap = 0;  // bytes of bitmap an answer holds at most
  } cases[] = {
      {"87 from one item: the item's own failure, the run stays",
       err::kInvalidParameter,
       {"a"},
       {},
       {"a 3000", "a error: 87", "b 3002", "c 3006"}},
      {"87 from two items: a place the file system refuses, the run is set aside",
       err::kInvalidParameter,
       {"a", "b"},
       {},
       {"a 3000", "a error: 87", "b 3002", "b error: 87", "c 1000"}},
      {"the item refused with 5, the target free: the run stays",
       err::kAccessDenied,
       {"a"},
       {},
       {"a 3000", "a error: 5", "b 3002", "c 3006"}},
      {"a code with the high bit set",
       0xFFFFFFFFu,
       {"a"},
       {},
       {"a 3000", "a error: -1", "b 3002", "c 3006"}},
      {"clusters taken at the run's front: they are set aside and the piece moved behind them",
       err::kSuccess,
       {},
       {{3000, 2}},
       {"a 3000", "b 3006", "c 3010"}},
      {"clusters taken inside the target: what lies before them goes with them",
       err::kSuccess,
       {},
       {{3001, 1}},
       {"a 3000", "b 3006", "c 3010"}},
      {"a stretch taken past the target is set aside to its end",
       err::kSuccess,
       {},
       {{3001, 9}},
       {"a 3000", "b 3014", "c 3018"}},
      {"the same, the bitmap read a byte an answer (each ending with 234)",
       err::kSuccess,
       {},
       {{3001, 9}},
       {"a 3000", "b 3014", "c 3018"},
       1},
      {"the retry meets taken clusters too: the item fails, the run keeps the rest",
       err::kSuccess,
       {},
       {{3000, 2}, {3003, 1}},
       {"a 3000", "a error: 5", "b 3004", "c 3008"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EngineRun run(
        "volume C clusters 5000 cluster_size 4096\n"
        "file C:\\G\\a.pak extents 10:2 20:2\nfile C:\\G\\b.pak extents 30:2 40:2\n"
        "file C:\\G\\c.pak extents 50:2 60:2\n",
        {{1000, 100}, {3000, 100}});
    run.volume.shortBitmapAnswers = c.shortBitmap;
    std::vector<std::string> failed;
    run.volume.beforeMove = [&](const MoveRequest& m) {
      const std::string item = m.path.substr(5, 1);
      if (std::find(failed.begin(), failed.end(), item) != failed.end()) return err::kSuccess;
      failed.push_back(item);
      if (item == "a") {
        for (const Extent& t : c.taken) run.volume.MarkUsed(t.lcn, t.count);  // the volume says 5
      }
      const bool refused = std::find(c.refused.begin(), c.refused.end(), item) != c.refused.end();
      return refused ? c.error : err::kSuccess;
    };
    EXPECT_TRUE(run.engine->DefragFolder("C:\\G", false));
    Lines seen;
    char item = 'a' - 1;
    for (const std::string& line : run.Log()) {
      if (line.rfind("New LCN for File:", 0) == 0) {
        ++item;
        seen.push_back(std::string(1, item) + " " + line.substr(17));
      }
      const std::string failure = "Defrag File Error:Move file C:\\G\\";
      if (line.rfind(failure, 0) == 0) {
        seen.push_back(line.substr(failure.size(), 1) + " " + line.substr(line.find("error: ")));
      }
    }
    EXPECT_EQ(seen, c.outcome);
    for (const char* path : {"C:\\G\\a.pak", "C:\\G\\b.pak", "C:\\G\\c.pak"}) {
      const std::string name = std::string(path).substr(5, 1);
      const bool failedItem = std::any_of(c.outcome.begin(), c.outcome.end(), [&](const auto& l) {
        return l.rfind(name + " error: ", 0) == 0;
      });
      EXPECT_EQ(run.volume.IsContiguous(path), !failedItem) << path;
    }
    EXPECT_TRUE(run.volume.Check().Ok());
  }
}

TEST(DefragFolder, AnItemMovedOnlyInPartIsReportedAndTheRunGoesOn) {
  EngineRun run(kGame, {{1000, 2000}});
  run.volume.partialMoves = true;  // each move of several clusters moves the first half
  EXPECT_TRUE(run.engine->DefragFolder("C:\\Games\\Foo", false));
  EXPECT_EQ(run.Log(), (Lines{"New LCN for File:1000", "Lcn Count:2000",
                              "Defrag File Error:Moved only partly: C:\\Games\\Foo\\A.pak",
                              "New LCN for File:1004", "Lcn Count:1996",
                              "Defrag File Error:Moved only partly: C:\\Games\\Foo\\b.pak",
                              "New LCN for Folder:1010", "Lcn Count:1990"}));
  EXPECT_EQ(run.events.size(), 12u);
  EXPECT_TRUE(run.volume.Check().Ok());
}

TEST(DefragFolder, HowAnItemIsMovedFollowsTheAttributesTheFinderReported) {
  // Compressed and sparse files move in whole 16-cluster units from a unit's first cluster, at
  // most 64 clusters a call; others, and folders whatever their attributes, by their extents. An
  // encrypted item is opened with the right to read its data.
  EngineRun run(
      "volume C clusters 5000 cluster_size 4096\n"
      "file C:\\G\\c.pak extents 10:20 500:12 attrs compressed\n"
      "file C:\\G\\d.pak extents 1500:8 -1:8 1540:10 -1:6 attrs compressed size 70000\n"
      "file C:\\G\\e.pak extents 60:2 560:2 attrs encrypted\n"
      "file C:\\G\\p.pak extents 200:20 700:12\n"
      "file C:\\G\\s.pak extents 100:16 600:40 attrs sparse\n"
      "file C:\\G\\t.pak extents 300:9 -1:7 800:9 -1:7 attrs compressed\n"
      "file C:\\G\\u.pak extents 900:2 950:2 970:4 size 12000\n"
      "file C:\\G\\v.pak extents 990:1 995:1\n"
      "file C:\\G\\q.pak extents 1600:3 1700:5 size 12288\n"
      "file C:\\G\\w.pak extents 960:1 965:1 size 0\n"
      "file C:\\G\\z.pak extents 1800:100 1950:60 attrs compressed\n"
      "folder C:\\G\\ZF1\\ extents 2100:2 2200:2 attrs compressed\n"
      "folder C:\\G\\ZF2\\ extents 2300:2 2400:2 attrs encrypted\n",
      {{1000, 400}});
  EXPECT_TRUE(run.engine->DefragFolder("C:\\G", false));
  // d.pak's data ends inside its second unit, whose 10 clusters move whole and take that room of
  // the run. u.pak's clusters past its 12,000 bytes cannot move: they stay, and it is judged in
  // one piece below its data's end, as q.pak, whose data is, is left alone; w.pak, empty, too.
  EXPECT_EQ(run.moves,
            (Lines{"0->1000:32",  "0->1032:8",    "16->1040:10", "0->1050:2", "2->1052:2",
                   "0->1054:20",  "20->1074:12",  "0->1086:56",  "0->1142:9", "16->1151:9",
                   "0->1160:2",   "2->1162:1",    "0->1163:1",   "1->1164:1", "0->1165:64",
                   "64->1229:64", "128->1293:32", "0->1325:2",   "2->1327:2", "0->1329:2",
                   "2->1331:2"}));
  for (const std::string& line : run.Log()) {
    EXPECT_EQ(line.find("Defrag File Error"), std::string::npos) << line;
  }
  EXPECT_EQ(run.volume.ExtentsOf("C:\\G\\u.pak"),
            (std::vector<Extent>{{1160, 3}, {951, 1}, {970, 4}}));
  for (const MoveRequest& m : run.requests) {
    EXPECT_LE(m.clusterCount, 64u) << m.path << " moved more than 64 clusters in one call";
  }
  EXPECT_EQ(run.recorder.access["C:\\G\\e.pak"], ItemAccess::kAttributesAndData);
  EXPECT_EQ(run.recorder.access["C:\\G\\ZF2"], ItemAccess::kAttributesAndData);
  EXPECT_EQ(run.recorder.access["C:\\G\\p.pak"], ItemAccess::kAttributes);
  for (const char* item : {"C:\\G\\c.pak", "C:\\G\\s.pak", "C:\\G\\t.pak"}) {
    EXPECT_TRUE(run.volume.IsContiguous(item)) << item;
  }
  EXPECT_TRUE(run.volume.Check().Ok());
}

TEST(DefragFolder, AJunctionOrLinkIsPassedOverWithWhatItLeadsTo) {
  // Link leads to another volume, with a fragmented file in it; ln.dat is a link to a file. A move
  // through this volume's handle would be refused with 87; neither is tried, and the run's free
  // space stays for b.pak. A run of files only passes over what lies below Link just the same.
  for (const bool filesOnly : {false, true}) {
    SCOPED_TRACE(filesOnly ? "files only" : "files and folders");
    EngineRun run(
        "volume C clusters 5000 cluster_size 4096\n"
        "folder C:\\G\\Link\\ extents 10:1 20:1 junction\n"
        "file C:\\G\\Link\\far.pak extents 30:2 40:2\n"
        "file C:\\G\\ln.dat extents 50:2 60:2 junction\n"
        "file C:\\G\\b.pak extents 70:2 80:2\n",
        {{1000, 100}});
    std::map<std::string, DefragItemOutcome> outcomes;
    run.engine->OnItemDone = [&](DefragEngine&, const DefragItemReport& r) {
      outcomes[WideToAnsi(r.fileName)] = r.outcome;
    };
    EXPECT_TRUE(run.engine->DefragFolder("C:\\G", filesOnly));
    EXPECT_EQ(run.moves, (Lines{"0->1000:2", "2->1002:2"}));
    EXPECT_EQ(run.Log(), (Lines{"New LCN for File:1000", "Lcn Count:100",
                                "Reparse point passed over:C:\\G\\Link",
                                "Reparse point passed over:C:\\G\\ln.dat"}));
    for (const char* item : {"C:\\G\\Link", "C:\\G\\ln.dat", "C:\\G\\Link\\far.pak"}) {
      EXPECT_EQ(outcomes[item], DefragItemOutcome::kNotOpened) << item;
    }
    for (const char* skip :
         {"skip C:\\G\\Link 0 0", "skip C:\\G\\ln.dat 1 0", "skip C:\\G\\Link\\far.pak 1 0"}) {
      EXPECT_NE(std::find(run.events.begin(), run.events.end(), skip), run.events.end()) << skip;
    }
    EXPECT_EQ(outcomes["C:\\G\\b.pak"], DefragItemOutcome::kMoved);
    EXPECT_TRUE(run.volume.Check().Ok());
  }
}

// One outcome per item, after its other events, agreeing with the log: each failure's text is the
// text of its "Defrag File Error:" line, and the clusters moved are those the item's map shows
// moved (a move of 3 clusters done in part moves 2); its fragments before and after ("2>1").
TEST(DefragFolder, EachItemGetsOneOutcomeThatAgreesWithTheLog) {
  constexpr const char* kEveryKind =
      "volume C clusters 20000 cluster_size 4096\n"
      "file C:\\G\\frag.pak extents 400:3 410:3\n"
      "file C:\\G\\whole.dat extents 480:2\n"
      "file C:\\G\\open.dat extents 440:4 450:4 locked\n"
      "file C:\\G\\huge.dat extents 500:100 700:100\n"
      "file C:\\G\\bad.dat extents 900:2 910:2\n";
  constexpr const char* kOneFragmented =
      "volume C clusters 20000 cluster_size 4096\nfile C:\\G\\frag.pak extents 400:3 410:3\n";
  const struct {
    const char* what;
    const char* volume;
    bool partialMoves;
    int abortAt;
    std::map<std::string, std::string> outcomes;  // path: "outcome clusters text"
    WinError mapErrorAfterMoves = 0;
  } cases[] = {
      {"every kind of item",
       kEveryKind,
       false,
       0,
       {{"C:\\G\\frag.pak", "moved 6 2>1 "},
        {"C:\\G\\whole.dat", "contiguous 0 1>1 "},
        {"C:\\G\\open.dat", "not opened 0 0>0 "},
        {"C:\\G\\huge.dat", "no free run 0 2>2 Fail to get the free space!"},
        {"C:\\G\\bad.dat", "failed 0 2>2 Move file C:\\G\\bad.dat error: 5"}}},
      {"moved only in part",
       kOneFragmented,
       true,
       0,
       {{"C:\\G\\frag.pak", "moved partly 4 2>4 Moved only partly: C:\\G\\frag.pak"}}},
      {"aborted at its first piece",
       kOneFragmented,
       false,
       1,
       {{"C:\\G\\frag.pak", "aborted 0 2>2 "}}},
      {"its map not readable after the move",
       kOneFragmented,
       false,
       0,
       {{"C:\\G\\frag.pak", "failed 0 2>2 Map not readable after the move: C:\\G\\frag.pak"}},
       38},
  };
  const char* const names[] = {"moved",        "contiguous", "not opened", "no free run",
                               "moved partly", "aborted",    "failed"};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EngineRun run(c.volume, {{1000, 50}});
    run.volume.partialMoves = c.partialMoves;
    run.recorder.mapErrorAfterMoves = c.mapErrorAfterMoves;
    run.abortAt = c.abortAt;
    run.volume.beforeMove = [](const MoveRequest& m) {
      return m.path == "C:\\G\\bad.dat" ? err::kAccessDenied : err::kSuccess;
    };
    std::map<std::string, std::string> outcomes;
    Lines failures;
    std::size_t eventsBefore = 0;
    run.engine->OnItemDone = [&](DefragEngine&, const DefragItemReport& report) {
      const std::string path = WideToAnsi(report.fileName);
      EXPECT_EQ(outcomes.count(path), 0u) << path << " reported twice";
      EXPECT_GT(run.events.size(), eventsBefore) << path << " reported before its events";
      eventsBefore = run.events.size();
      outcomes[path] = std::string(names[static_cast<int>(report.outcome)]) + " " +
                       std::to_string(report.clustersMoved) + " " +
                       std::to_string(report.fragmentsBefore) + ">" +
                       std::to_string(report.fragmentsAfter) + " " + report.text;
      if (!report.text.empty()) failures.push_back("Defrag File Error:" + report.text);
    };
    run.engine->DefragFolder("C:\\G", false);
    EXPECT_EQ(outcomes, c.outcomes);
    Lines logged;
    for (const std::string& line : run.Log()) {
      if (line.rfind("Defrag File Error:", 0) == 0) logged.push_back(line);
    }
    EXPECT_EQ(failures, logged);
  }
}

}  // namespace
}  // namespace kestrava
