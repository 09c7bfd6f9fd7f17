// The simulated volume answers as Windows does: the control codes' bytes, paging and error codes,
// opening, listing in NTFS order, the text format, and random volumes that stay sound under moves.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/wide.h"
#include "tests/sim/random_volume.h"
#include "tests/sim/volume_file.h"

namespace kestrava::sim {
namespace {

using Handle = VolumeDevicePort::Handle;

constexpr WinError kSharingViolation = 32, kHandleEof = 38, kInsufficientBuffer = 122;

// VCN runs of a.pak: [0,5) at 100, [5,8) sparse, [8,10) at 110, [10,14) at 200.
constexpr const char* kFixture = R"(
volume C clusters 1000 cluster_size 4096
used 0:16             # metadata
folder C:\Games\Foo\ extents 300:1
file C:\Games\Foo\a.pak extents 100:5 -1:3 110:2 200:4 attrs hidden
file C:\Games\Foo\tiny.txt resident
file C:\Games\Foo\open.dat extents 70:4 locked
file C:\Games\Foo\acl.dat extents 80:2 denied
file C:\Games\Foo\meta.bin extents 90:2 unmovable
file C:\Games\Foo\adj.bin extents 400:2 402:2
)";

struct Answer {
  WinError error = 0;
  std::uint32_t returned = 0xFFFFFFFF;
  std::vector<unsigned char> bytes;  // the output buffer, as long as asked for

  std::int64_t I64(std::size_t at) const {
    std::int64_t v;
    std::memcpy(&v, &bytes[at], 8);
    return v;
  }
};

// Sends one control code with an output of outputLength bytes, and fails the test when anything
// past those bytes was written.
Answer Send(SimulatedVolume& v, Handle h, std::uint32_t code, const void* input,
            std::uint32_t inputLength, std::uint32_t outputLength) {
  std::vector<unsigned char> buffer(outputLength + 64, 0xCD);
  Answer a;
  a.error = v.Control(h, code, input, inputLength, buffer.data(), outputLength, &a.returned);
  for (std::size_t i = outputLength; i < buffer.size(); ++i) {
    if (buffer[i] != 0xCD) {
      ADD_FAILURE() << "byte " << i << " written past an output of " << outputLength;
      break;
    }
  }
  buffer.resize(outputLength);
  a.bytes = std::move(buffer);
  return a;
}

Answer Bitmap(SimulatedVolume& v, Handle volume, std::int64_t start, std::uint32_t outputLength) {
  return Send(v, volume, fsctl::kGetVolumeBitmap, &start, sizeof start, outputLength);
}

Answer Pointers(SimulatedVolume& v, Handle item, std::int64_t vcn, std::uint32_t outputLength,
                std::uint32_t inputLength = 8) {
  return Send(v, item, fsctl::kGetRetrievalPointers, &vcn, inputLength, outputLength);
}

WinError Move(SimulatedVolume& v, Handle volume, Handle file, std::int64_t vcn, std::int64_t lcn,
              std::uint32_t count, std::uint32_t inputLength = 32) {
  unsigned char data[32] = {};  // MOVE_FILE_DATA
  std::memcpy(data, &file, sizeof file);
  std::memcpy(data + 8, &vcn, 8);
  std::memcpy(data + 16, &lcn, 8);
  std::memcpy(data + 24, &count, 4);
  std::uint32_t returned = 0;
  return v.Control(volume, fsctl::kMoveFile, data, inputLength, nullptr, 0, &returned);
}

Handle OpenVolume(SimulatedVolume& v) {
  Handle h = 0;
  EXPECT_EQ(v.OpenVolume("\\\\.\\C:", &h), 0u);
  return h;
}

Handle OpenItem(SimulatedVolume& v, const std::string& path, bool isFolder = false) {
  Handle h = 0;
  EXPECT_EQ(v.OpenItemToMove(AnsiToWide(path), isFolder, ItemAccess::kAttributes, &h), 0u) << path;
  return h;
}

TEST(SimulatedVolumeTest, VolumeBitmapRoundsStartAndPagesWithMoreData) {
  SimulatedVolume v = ReadVolumeText(kFixture);
  const Handle volume = OpenVolume(v);
  struct Row {
    std::int64_t start;
    std::uint32_t outputLength;
    WinError error;
    std::int64_t startLcn, bitmapSize;
    std::uint32_t returned;
  } rows[] = {
      {0, 4096, 0, 0, 1000, 16 + 125},
      {13, 4096, 0, 8, 992, 16 + 124},  // rounded down to a byte of the bitmap
      {999, 4096, 0, 992, 8, 17},
      {0, 24, err::kMoreData, 0, 1000, 24},  // BitmapSize is the whole rest all the same
      {0, 23, kInsufficientBuffer, 0, 0, 0xFFFFFFFF},
      {1000, 4096, err::kInvalidParameter, 0, 0, 0xFFFFFFFF},
      {-8, 4096, err::kInvalidParameter, 0, 0, 0xFFFFFFFF},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << "start " << r.start << ", output " << r.outputLength);
    const Answer a = Bitmap(v, volume, r.start, r.outputLength);
    ASSERT_EQ(a.error, r.error);
    EXPECT_EQ(a.returned, r.returned);
    if (r.error != 0 && r.error != err::kMoreData) continue;
    EXPECT_EQ(a.I64(0), r.startLcn);
    EXPECT_EQ(a.I64(8), r.bitmapSize);
    for (std::uint32_t i = 0; 16 + i / 8 < a.returned && i < r.bitmapSize; ++i) {
      const std::uint64_t lcn = static_cast<std::uint64_t>(r.startLcn) + i;
      ASSERT_EQ((a.bytes[16 + i / 8] >> (i % 8)) & 1, v.Bitmap().Test(lcn) ? 1 : 0) << lcn;
    }
  }
  EXPECT_EQ(Send(v, volume, fsctl::kGetVolumeBitmap, nullptr, 4, 4096).error,
            err::kInvalidParameter);  // no whole StartingLcn
  v.Close(volume);
}

TEST(SimulatedVolumeTest, VolumeBitmapPagesJoinToTheWholeAndMarkTheTailUsed) {
  SimulatedVolume v('C', 1003, 512);
  v.MarkUsed(5, 70);
  v.MarkUsed(990, 3);
  const Handle volume = OpenVolume(v);
  std::vector<int> bits;
  std::int64_t next = 0;
  for (int pages = 0; pages < 100; ++pages) {
    const Answer a = Bitmap(v, volume, next, 16 + 13);
    ASSERT_TRUE(a.error == 0 || a.error == err::kMoreData) << a.error;
    for (std::uint32_t i = 0; i < (a.returned - 16) * 8; ++i)
      bits.push_back((a.bytes[16 + i / 8] >> (i % 8)) & 1);
    if (a.error == 0) break;
    next = a.I64(0) + 8 * (a.returned - 16);
  }
  ASSERT_EQ(bits.size(), 1008u);
  for (std::uint64_t lcn = 0; lcn < 1003; ++lcn) EXPECT_EQ(bits[lcn], v.Bitmap().Test(lcn) ? 1 : 0);
  for (std::size_t lcn = 1003; lcn < 1008; ++lcn) EXPECT_EQ(bits[lcn], 1) << "past the end";
  v.Close(volume);
}

TEST(SimulatedVolumeTest, RetrievalPointersReportWholeStoredExtents) {
  SimulatedVolume v = ReadVolumeText(kFixture);
  using Runs = std::vector<std::pair<std::int64_t, std::int64_t>>;  // NextVcn, Lcn
  const Runs all = {{5, 100}, {8, -1}, {10, 110}, {14, 200}};
  struct Row {
    const char* path;
    bool isFolder;
    std::int64_t vcn;
    std::uint32_t outputLength, inputLength;
    WinError error;
    std::int64_t startVcn;
    Runs runs;
  } rows[] = {
      {"C:\\Games\\Foo\\a.pak", false, 0, 1024, 8, 0, 0, all},
      {"C:\\Games\\Foo\\a.pak", false, 3, 1024, 8, 0, 0, all},  // moved back to its extent
      {"C:\\Games\\Foo\\a.pak", false, 9, 1024, 8, 0, 8, {{10, 110}, {14, 200}}},
      {"C:\\Games\\Foo\\a.pak", false, 0, 48, 8, err::kMoreData, 0, {{5, 100}, {8, -1}}},
      {"C:\\Games\\Foo\\a.pak", false, 8, 47, 8, err::kMoreData, 8, {{10, 110}}},
      {"C:\\Games\\Foo\\a.pak", false, 14, 1024, 8, kHandleEof, 0, {}},
      {"C:\\Games\\Foo\\a.pak", false, -1, 1024, 8, err::kInvalidParameter, 0, {}},
      {"C:\\Games\\Foo\\a.pak", false, 0, 1024, 7, err::kInvalidParameter, 0, {}},
      {"C:\\Games\\Foo\\a.pak", false, 0, 31, 8, kInsufficientBuffer, 0, {}},
      {"C:\\Games\\Foo\\tiny.txt", false, 0, 1024, 8, kHandleEof, 0, {}},
      {"C:\\Games\\Foo\\adj.bin", false, 0, 1024, 8, 0, 0, {{2, 400}, {4, 402}}},  // not joined
      {"C:\\Games\\Foo", true, 0, 1024, 8, 0, 0, {{1, 300}}},
      {"C:\\Games", true, 0, 1024, 8, kHandleEof, 0, {}},  // made as a parent: resident
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.path << " from VCN " << r.vcn << ", output "
                                    << r.outputLength << ", input " << r.inputLength);
    Handle item = 0;
    ASSERT_EQ(v.OpenItemToInspect(r.path, r.isFolder, &item), 0u);
    const Answer a = Pointers(v, item, r.vcn, r.outputLength, r.inputLength);
    v.Close(item);
    ASSERT_EQ(a.error, r.error);
    if (r.error != 0 && r.error != err::kMoreData) {
      EXPECT_EQ(a.returned, 0xFFFFFFFF) << "the count is left alone on failure";
      continue;
    }
    std::uint32_t count;
    std::memcpy(&count, a.bytes.data(), 4);
    ASSERT_EQ(count, r.runs.size());
    EXPECT_EQ(a.returned, 16 + 16 * count);
    EXPECT_EQ(a.I64(8), r.startVcn);
    for (std::size_t i = 0; i < count; ++i) {
      EXPECT_EQ(a.I64(16 + 16 * i), r.runs[i].first);
      EXPECT_EQ(a.I64(24 + 16 * i), r.runs[i].second);
    }
  }
  EXPECT_EQ(v.OpenHandles(), 0);
}

TEST(SimulatedVolumeTest, MovesRewriteTheMapOrRefuseAndChangeNothing) {
  using Map = std::vector<Extent>;
  const Map aPak = {{100, 5}, {-1, 3}, {110, 2}, {200, 4}};
  struct Row {
    const char* what;
    const char* path;
    std::int64_t vcn, lcn;
    std::uint32_t count, inputLength;
    WinError error;
    Map after;  // for a.pak unless the path says otherwise
  } rows[] = {
      {"joins the extent before", "a.pak", 10, 112, 4, 32, 0, {{100, 5}, {-1, 3}, {110, 6}}},
      {"joins the extent after", "a.pak", 8, 198, 2, 32, 0, {{100, 5}, {-1, 3}, {198, 6}}},
      {"splits an extent",
       "a.pak",
       1,
       500,
       2,
       32,
       0,
       {{100, 1}, {500, 2}, {103, 2}, {-1, 3}, {110, 2}, {200, 4}}},
      {"spans two extents", "adj.bin", 1, 600, 2, 32, 0, {{400, 1}, {600, 2}, {403, 1}}},
      {"a folder's index", "Foo", 0, 700, 1, 32, 0, {{700, 1}}},
      {"no clusters", "a.pak", 0, 500, 0, 32, err::kInvalidParameter, aPak},
      {"VCN past the allocation", "a.pak", 14, 500, 1, 32, err::kInvalidParameter, aPak},
      {"range past the allocation", "a.pak", 12, 500, 3, 32, err::kInvalidParameter, aPak},
      {"negative VCN", "a.pak", -1, 500, 1, 32, err::kInvalidParameter, aPak},
      {"across a sparse range", "a.pak", 4, 500, 2, 32, err::kInvalidParameter, aPak},
      {"target past the end", "a.pak", 0, 999, 2, 32, err::kInvalidParameter, aPak},
      {"negative target", "a.pak", 0, -1, 1, 32, err::kInvalidParameter, aPak},
      {"target used by nothing listed", "a.pak", 0, 10, 2, 32, err::kAccessDenied, aPak},
      {"target of another file", "a.pak", 0, 69, 2, 32, err::kAccessDenied, aPak},
      {"target overlapping its own clusters", "a.pak", 0, 103, 2, 32, err::kAccessDenied, aPak},
      {"unmovable", "meta.bin", 0, 500, 2, 32, err::kAccessDenied, {{90, 2}}},
      {"short input", "a.pak", 0, 500, 2, 31, kInsufficientBuffer, aPak},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    SimulatedVolume v = ReadVolumeText(kFixture);
    const SimulatedVolume before = ReadVolumeText(kFixture);
    const std::string path =
        std::string("C:\\Games\\") + (std::strcmp(r.path, "Foo") ? "Foo\\" : "") + r.path;
    const Handle volume = OpenVolume(v);
    const Handle file = OpenItem(v, path, std::strcmp(r.path, "Foo") == 0);
    EXPECT_EQ(Move(v, volume, file, r.vcn, r.lcn, r.count, r.inputLength), r.error);
    EXPECT_EQ(v.ExtentsOf(path), r.after);
    EXPECT_TRUE(v.Check().Ok()) << "data, sharing or bitmap broken";
    if (r.error != 0) {
      EXPECT_TRUE(v == before);
      EXPECT_EQ(v.Counters().clustersMoved, 0u);
    } else {
      EXPECT_EQ(v.Counters().clustersMoved, r.count);
      EXPECT_TRUE(v.Bitmap().Test(static_cast<std::uint64_t>(r.lcn)));
    }
    v.Close(file);
    v.Close(volume);
  }
}

TEST(SimulatedVolumeTest, MovesCarryContentOverTagPageBorders) {
  SimulatedVolume v('C', 20000, 4096);
  v.AddFile("C:\\big.bin", {{{4090, 10}, {12000, 5000}}});  // tags are kept in 4096-cluster pages
  const Handle volume = OpenVolume(v);
  const Handle file = OpenItem(v, "C:\\big.bin");
  EXPECT_EQ(Move(v, volume, file, 3, 6000, 4000), 0u);
  EXPECT_EQ(v.ExtentsOf("C:\\big.bin"),
            (std::vector<Extent>{{4090, 3}, {6000, 4000}, {15993, 1007}}));
  EXPECT_TRUE(v.Check().Ok());
  v.Close(file);
  v.Close(volume);
}

TEST(SimulatedVolumeTest, InjectedFaultsFailOrMoveHalf) {
  SimulatedVolume v = ReadVolumeText(kFixture);
  const Handle volume = OpenVolume(v);
  const Handle file = OpenItem(v, "C:\\Games\\Foo\\a.pak");
  v.FailMoveAt(2);
  std::vector<MoveRequest> seen;
  v.beforeMove = [&](const MoveRequest& r) {
    seen.push_back(r);
    return r.startingLcn == 900 ? kSharingViolation : err::kSuccess;
  };
  EXPECT_EQ(Move(v, volume, file, 0, 500, 1), 0u);
  EXPECT_EQ(Move(v, volume, file, 1, 501, 1), err::kAccessDenied);  // the second call
  EXPECT_EQ(Move(v, volume, file, 1, 900, 1), kSharingViolation);
  EXPECT_EQ(v.ExtentsOf("C:\\Games\\Foo\\a.pak"),
            (std::vector<Extent>{{500, 1}, {101, 4}, {-1, 3}, {110, 2}, {200, 4}}));
  ASSERT_EQ(seen.size(), 2u);  // the failed second call never reached the hook
  EXPECT_EQ(seen[1].path, "C:\\Games\\Foo\\a.pak");
  EXPECT_EQ(seen[1].callNumber, 3u);
  EXPECT_EQ(seen[1].clusterCount, 1u);

  v.holdVacated = true;  // cluster 101 stays in use until the checkpoint
  EXPECT_EQ(Move(v, volume, file, 1, 502, 1), 0u);
  EXPECT_EQ(Move(v, volume, file, 2, 101, 1), err::kAccessDenied);
  EXPECT_TRUE(v.Check().Ok());
  v.Checkpoint();
  EXPECT_EQ(Move(v, volume, file, 2, 101, 1), 0u);
  v.holdVacated = false;
  EXPECT_EQ(
      v.ExtentsOf("C:\\Games\\Foo\\a.pak"),
      (std::vector<Extent>{{500, 1}, {502, 1}, {101, 1}, {103, 2}, {-1, 3}, {110, 2}, {200, 4}}));

  v.partialMoves = true;  // success, though only clusters 10 and 11 of 10..13 moved
  EXPECT_EQ(Move(v, volume, file, 10, 600, 4), 0u);
  EXPECT_EQ(v.ExtentsOf("C:\\Games\\Foo\\a.pak"),
            (std::vector<Extent>{
                {500, 1}, {502, 1}, {101, 1}, {103, 2}, {-1, 3}, {110, 2}, {600, 2}, {202, 2}}));
  EXPECT_TRUE(v.Check().Ok());
  EXPECT_EQ(v.Counters().moveCalls, 7u);
  EXPECT_EQ(v.Counters().movesDone, 4u);
  EXPECT_EQ(v.Counters().clustersMoved, 5u);
  v.Close(file);
  v.Close(volume);
}

TEST(SimulatedVolumeTest, OpensFailAsCreateFileDoes) {
  SimulatedVolume v = ReadVolumeText(kFixture);
  struct Row {
    const char* path;
    bool isFolder;
    WinError error;
  } items[] = {
      {"C:\\Games\\Foo\\a.pak", false, 0},
      {"c:\\gAMES\\foo\\A.PAK", false, 0},
      {"C:\\Games\\Foo\\a.pak", true, 0},  // backup semantics open files too
      {"C:\\Games\\Foo", true, 0},
      {"C:\\Games\\Foo\\", true, 0},
      {"C:\\Games\\Foo", false, err::kAccessDenied},  // a folder needs backup semantics
      {"C:\\Games\\Foo\\none.pak", false, err::kFileNotFound},
      {"C:\\Games\\None\\a.pak", false, err::kPathNotFound},
      {"C:\\Games\\Foo\\a.pak\\x", false, err::kPathNotFound},
      {"D:\\Games\\Foo\\a.pak", false, err::kPathNotFound},
      {"C:\\Games\\Foo\\open.dat", false, kSharingViolation},
      {"C:\\Games\\Foo\\acl.dat", false, err::kAccessDenied},
  };
  std::vector<Handle> open;
  for (const Row& r : items) {
    SCOPED_TRACE(r.path);
    Handle inspect = 0, move = 0;
    EXPECT_EQ(v.OpenItemToInspect(r.path, r.isFolder, &inspect), r.error);
    EXPECT_EQ(v.OpenItemToMove(AnsiToWide(r.path), r.isFolder, ItemAccess::kAttributes, &move),
              r.error);
    if (r.error == 0) {
      open.push_back(inspect);
      open.push_back(move);
    } else {
      EXPECT_EQ(inspect | move, 0u) << "a failed open sets no handle";
    }
  }
  for (const char* path : {"\\\\.\\C:", "\\\\.\\c:"}) {
    Handle h = 0;
    EXPECT_EQ(v.OpenVolume(path, &h), 0u) << path;
    open.push_back(h);
  }
  for (const char* path : {"\\\\.\\D:", "\\\\.\\C:\\", "C:", "\\\\?\\C:"}) {
    Handle h = 0;
    EXPECT_EQ(v.OpenVolume(path, &h), err::kFileNotFound) << path;
  }
  std::vector<Handle> distinct(open);
  std::sort(distinct.begin(), distinct.end());
  EXPECT_EQ(std::unique(distinct.begin(), distinct.end()), distinct.end());
  EXPECT_EQ(v.OpenHandles(), static_cast<int>(open.size()));
  for (Handle h : open) v.Close(h);
  EXPECT_EQ(v.OpenHandles(), 0);
  v.Close(open[0]);
  EXPECT_EQ(v.Counters().unknownCloses, 1u);

  std::uint32_t size = 0;
  EXPECT_EQ(v.ClusterSize("c:\\", &size), 0u);
  EXPECT_EQ(size, 4096u);
  EXPECT_EQ(v.ClusterSize("D:\\", &size), err::kPathNotFound);
}

TEST(SimulatedVolumeTest, ControlsCheckTheirHandles) {
  SimulatedVolume v = ReadVolumeText(kFixture);
  const Handle volume = OpenVolume(v);
  const Handle file = OpenItem(v, "C:\\Games\\Foo\\a.pak");
  const Handle closed = OpenItem(v, "C:\\Games\\Foo\\adj.bin");
  v.Close(closed);
  EXPECT_EQ(Bitmap(v, 12345, 0, 64).error, err::kInvalidHandle);
  EXPECT_EQ(Bitmap(v, closed, 0, 64).error, err::kInvalidHandle);
  EXPECT_EQ(Bitmap(v, file, 0, 64).error, err::kInvalidFunction);
  EXPECT_EQ(Pointers(v, volume, 0, 64).error, err::kInvalidFunction);
  EXPECT_EQ(Move(v, file, file, 0, 500, 1), err::kInvalidFunction);  // sent to the item
  EXPECT_EQ(Move(v, volume, closed, 0, 500, 1), err::kInvalidHandle);
  EXPECT_EQ(Move(v, volume, volume, 0, 500, 1), err::kInvalidParameter);
  EXPECT_EQ(Send(v, volume, 0x90000, nullptr, 0, 0).error, err::kInvalidFunction);
  EXPECT_TRUE(v == ReadVolumeText(kFixture));
  v.Close(file);
  v.Close(volume);
}

std::vector<std::string> List(SimulatedVolume& v, const std::string& pattern,
                              FindScope scope = FindScope::kAllEntries, WinError* error = nullptr) {
  std::vector<std::string> names;
  TFindData d;
  DirectoryPort::Handle h = 0;
  const WinError e = v.FindFirst(pattern, d, &h, scope);
  if (error) *error = e;
  if (e != 0) return names;
  do names.push_back(d.Name + ((d.Attributes & attr::kDirectory) ? "\\" : ""));
  while (v.FindNext(h, d) == 0);
  EXPECT_EQ(v.FindNext(h, d), err::kNoMoreFiles);
  v.FindClose(h);
  return names;
}

TEST(SimulatedVolumeTest, ListingsComeInNtfsOrder) {
  SimulatedVolume v('C', 100, 4096);
  for (const char* name : {"b", "_x", "A", "a2", "Sub"}) v.AddFile(std::string("C:\\G\\") + name);
  v.AddFolder("C:\\G\\sub0");
  v.AddFile("C:\\G\\Data.PAK", {{{10, 3}}, attr::kArchive});
  using Names = std::vector<std::string>;
  // Upper-cased bytes: "_" (0x5F) sorts after the letters, "A2" after "A".
  EXPECT_EQ(List(v, "C:\\G\\*"),
            (Names{".\\", "..\\", "A", "a2", "b", "Data.PAK", "Sub", "sub0\\", "_x"}));
  EXPECT_EQ(List(v, "c:\\g\\*.pak"), (Names{"Data.PAK"}));
  EXPECT_EQ(List(v, "C:\\G\\*", FindScope::kFoldersOnly), (Names{"sub0\\"}));
  EXPECT_EQ(List(v, "C:\\*"), (Names{"G\\"}));  // no dot entries in the root
  WinError e = 0;
  List(v, "C:\\G\\*.exe", FindScope::kAllEntries, &e);
  EXPECT_EQ(e, err::kFileNotFound);
  List(v, "C:\\None\\*", FindScope::kAllEntries, &e);
  EXPECT_EQ(e, err::kPathNotFound);
  EXPECT_EQ(v.OpenFinds(), 0);

  TFindData d;
  DirectoryPort::Handle h = 0;
  ASSERT_EQ(v.FindFirst("C:\\G\\data.pak", d, &h), 0u);
  EXPECT_EQ(d.Size(), 3 * 4096);
  EXPECT_EQ(d.Attributes, attr::kArchive);
  v.FindClose(h);
}

TEST(SimulatedVolumeTest, FullPathsAsGetFullPathNameGivesThem) {
  SimulatedVolume v('C', 100, 4096);
  const std::pair<const char*, const char*> rows[] = {
      {"C:\\Games\\Foo", "C:\\Games\\Foo"},
      {"C:\\Games\\Foo\\", "C:\\Games\\Foo\\"},
      {"Games\\x", "C:\\Games\\x"},
      {"\\x", "C:\\x"},
      {"C:\\a\\..\\b\\.\\c", "C:\\b\\c"},
      {"C:/a//b", "C:\\a\\b"},
      {"C:", "C:\\"},
      {"D:x", "D:\\x"},
  };
  for (const auto& [path, full] : rows) {
    std::string got;
    EXPECT_EQ(v.FullPath(path, &got), 0u);
    EXPECT_EQ(got, full) << path;
  }
  std::string unc = "unchanged";
  EXPECT_EQ(v.UniversalName("C:\\x", &unc), err::kNotConnected);
  EXPECT_EQ(unc, "unchanged");
}

// The strict volume. c.cmp's units: [0,16) 9 clusters at 100, [16,32) 5 at 120, [32,36) 4 at 140.
// p.pre keeps 16 clusters for 20,000 bytes: VCNs 0 to 4 hold the file.
constexpr const char* kStrict = R"(
volume C clusters 1000 cluster_size 4096
used 0:16
reserved 500:20
taken 600:10
mft-zone 800:50
file C:\S\c.cmp extents 100:9 -1:7 120:5 -1:11 140:4 attrs compressed
file C:\S\e.enc extents 200:4 210:4 attrs encrypted
file C:\S\p.pre extents 300:8 310:8 size 20000
file C:\S\u.dat extents 400:3 410:3 in-use
file C:\S\m.den extents 420:2 map-denied
file C:\S\m.emp extents 430:2 map-empty
folder C:\S\busy\ extents 440:1 in-use
file C:\S\h.spa extents 150:4 -1:20 160:4 attrs sparse
)";

TEST(StrictVolumeTest, MovesAsNtfsShapesOrRefusesThem) {
  using Map = std::vector<Extent>;
  const Map cmp = {{100, 9}, {-1, 7}, {120, 5}, {-1, 11}, {140, 4}};
  const Map pre = {{300, 8}, {310, 8}};
  const Map use = {{400, 3}, {410, 3}};
  constexpr ItemAccess kAttr = ItemAccess::kAttributes, kData = ItemAccess::kAttributesAndData;
  struct Row {
    const char* what;
    const char* name;
    ItemAccess access;
    bool partial;
    std::int64_t vcn, lcn;
    std::uint32_t count;
    WinError error;
    std::uint64_t moved;
    Map after;
  } rows[] = {
      {"a count inside a unit takes the unit; its sparse clusters take no room",
       "c.cmp",
       kAttr,
       false,
       0,
       700,
       3,
       0,
       9,
       {{700, 9}, {-1, 7}, {120, 5}, {-1, 11}, {140, 4}}},
      {"two units land back to back",
       "c.cmp",
       kAttr,
       false,
       0,
       700,
       17,
       0,
       14,
       {{700, 9}, {-1, 7}, {709, 5}, {-1, 11}, {140, 4}}},
      {"units need room for their real clusters only",
       "c.cmp",
       kAttr,
       false,
       0,
       986,
       32,
       0,
       14,
       {{986, 9}, {-1, 7}, {995, 5}, {-1, 11}, {140, 4}}},
      {"the last unit is short",
       "c.cmp",
       kAttr,
       false,
       32,
       700,
       1,
       0,
       4,
       {{100, 9}, {-1, 7}, {120, 5}, {-1, 11}, {700, 4}}},
      {"a sparse range across units stays one extent",
       "h.spa",
       kAttr,
       false,
       0,
       700,
       1,
       0,
       4,
       {{700, 4}, {-1, 20}, {160, 4}}},
      {"a start inside a unit", "c.cmp", kAttr, false, 4, 700, 1, err::kInvalidParameter, 0, cmp},
      {"half of a call in units: its first unit",
       "c.cmp",
       kAttr,
       true,
       0,
       700,
       32,
       0,
       9,
       {{700, 9}, {-1, 7}, {120, 5}, {-1, 11}, {140, 4}}},
      {"half of a call, rounded up", "u.dat", kAttr, true, 0, 700, 5, 0, 3, {{700, 3}, {410, 3}}},
      {"encrypted, attribute handle",
       "e.enc",
       kAttr,
       false,
       0,
       700,
       4,
       err::kAccessDenied,
       0,
       {{200, 4}, {210, 4}}},
      {"encrypted, data handle", "e.enc", kData, false, 0, 700, 4, 0, 4, {{700, 4}, {210, 4}}},
      {"the last cluster of the file",
       "p.pre",
       kAttr,
       false,
       4,
       700,
       1,
       0,
       1,
       {{300, 4}, {700, 1}, {305, 3}, {310, 8}}},
      {"a cluster past the file's end", "p.pre", kAttr, false, 5, 700, 1, err::kInvalidParameter, 0,
       pre},
      {"a range ending past the file's end", "p.pre", kAttr, false, 3, 700, 3,
       err::kInvalidParameter, 0, pre},
      {"in use by another program, moved all the same",
       "u.dat",
       kAttr,
       false,
       0,
       700,
       6,
       0,
       6,
       {{700, 6}}},
      {"into reserved clusters", "u.dat", kAttr, false, 0, 510, 2, err::kInvalidParameter, 0, use},
      {"ending in reserved clusters", "u.dat", kAttr, false, 0, 499, 2, err::kInvalidParameter, 0,
       use},
      {"into clusters taken at the first move", "u.dat", kAttr, false, 0, 605, 2,
       err::kAccessDenied, 0, use},
      {"ending in the MFT zone", "u.dat", kAttr, false, 0, 799, 2, err::kInvalidParameter, 0, use},
      {"just past the MFT zone",
       "u.dat",
       kAttr,
       false,
       0,
       850,
       2,
       0,
       2,
       {{850, 2}, {402, 1}, {410, 3}}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    SimulatedVolume v = ReadVolumeText(kStrict);
    v.partialMoves = r.partial;
    const std::string path = std::string("C:\\S\\") + r.name;
    const Handle volume = OpenVolume(v);
    Handle file = 0;
    ASSERT_EQ(v.OpenItemToMove(AnsiToWide(path), false, r.access, &file), 0u);
    EXPECT_EQ(Move(v, volume, file, r.vcn, r.lcn, r.count), r.error);
    EXPECT_EQ(v.ExtentsOf(path), r.after);
    EXPECT_EQ(v.Counters().clustersMoved, r.moved);
    EXPECT_TRUE(v.Check().Ok()) << "data, sharing or bitmap broken";
    v.Close(file);
    v.Close(volume);
  }
}

TEST(StrictVolumeTest, OpensExtentReadsAndBitmapAnswers) {
  SimulatedVolume v = ReadVolumeText(std::string(kStrict) + "short-bitmap-answers 4\n");
  struct Open {
    const char* path;
    bool inspect;
    ItemAccess access;
    WinError error;
  } opens[] = {
      {"C:\\S\\u.dat", true, ItemAccess::kAttributes, 0},
      {"C:\\S\\u.dat", false, ItemAccess::kAttributes, 0},
      {"C:\\S\\u.dat", false, ItemAccess::kAttributesAndData, kSharingViolation},
      {"C:\\S\\e.enc", false, ItemAccess::kAttributesAndData, 0},
  };
  for (const Open& o : opens) {
    Handle h = 0;
    const WinError e = o.inspect ? v.OpenItemToInspect(o.path, false, &h)
                                 : v.OpenItemToMove(AnsiToWide(o.path), false, o.access, &h);
    EXPECT_EQ(e, o.error) << o.path << (o.inspect ? " inspected" : " to move");
    if (e == 0) v.Close(h);
  }
  WinError listing = 0;
  List(v, "C:\\S\\busy\\*", FindScope::kAllEntries, &listing);
  EXPECT_EQ(listing, kSharingViolation);  // listing reads the folder's data
  TFindData d;
  DirectoryPort::Handle find = 0;
  ASSERT_EQ(v.FindFirst("C:\\S\\p.pre", d, &find), 0u);
  EXPECT_EQ(d.Size(), 20000);
  v.FindClose(find);

  struct Read {
    const char* path;
    std::int64_t vcn;
    WinError error;
    std::uint32_t returned, count;
    std::int64_t startVcn;
  } reads[] = {
      {"C:\\S\\m.den", 0, err::kAccessDenied, 0xFFFFFFFF, 0, 0},
      {"C:\\S\\m.emp", 1, 0, 16, 0, 1},
      {"C:\\S\\p.pre", 0, 0, 48, 2, 0},  // clusters past the end of the file are listed
      {"C:\\S\\busy", 0, 0, 32, 1, 0},   // a folder's index allocation
  };
  for (const Read& r : reads) {
    SCOPED_TRACE(r.path);
    Handle item = 0;
    ASSERT_EQ(v.OpenItemToInspect(r.path, std::strcmp(r.path, "C:\\S\\busy") == 0, &item), 0u);
    const Answer a = Pointers(v, item, r.vcn, 1024);
    v.Close(item);
    ASSERT_EQ(a.error, r.error);
    EXPECT_EQ(a.returned, r.returned);
    if (r.error != 0) continue;
    std::uint32_t count;
    std::memcpy(&count, a.bytes.data(), 4);
    EXPECT_EQ(count, r.count);
    EXPECT_EQ(a.I64(8), r.startVcn);
  }

  // Bitmap answers end short with more data; reserved clusters show free, taken ones until the
  // first move call of any kind.
  const Handle volume = OpenVolume(v);
  auto bit = [](const Answer& a, std::uint64_t i) { return (a.bytes[16 + i / 8] >> (i % 8)) & 1; };
  Answer a = Bitmap(v, volume, 496, 4096);
  EXPECT_EQ(a.error, err::kMoreData);
  EXPECT_EQ(a.returned, 16u + 4);
  EXPECT_EQ(a.I64(8), 504);  // the whole rest all the same
  EXPECT_EQ(bit(a, 4), 0);   // reserved 500
  EXPECT_EQ(Bitmap(v, volume, 992, 4096).error, 0u);
  EXPECT_EQ(bit(Bitmap(v, volume, 600, 4096), 0), 0);
  EXPECT_EQ(Move(v, volume, volume, 0, 700, 1, 31), kInsufficientBuffer);
  a = Bitmap(v, volume, 600, 4096);
  EXPECT_EQ(bit(a, 0) + bit(a, 9) + bit(a, 10), 2) << "600 to 609 taken";
  EXPECT_TRUE(v.Check().Ok()) << "taken clusters are the other program's";
  EXPECT_EQ(bit(Bitmap(v, volume, 800, 4096), 49), 0) << "the MFT zone reads free";

  // Where the MFT zone lies, on the volume's handle or an item's; a short buffer gets nothing.
  Handle item = 0;
  ASSERT_EQ(v.OpenItemToInspect("C:\\S\\u.dat", false, &item), 0u);
  for (const Handle h : {volume, item}) {
    a = Send(v, h, fsctl::kGetNtfsVolumeData, nullptr, 0, 200);
    EXPECT_EQ(a.error, 0u);
    EXPECT_EQ(a.returned, 96u);
    EXPECT_EQ(a.I64(16), 1000) << "TotalClusters";
    EXPECT_EQ(a.I64(80), 800) << "MftZoneStart";
    EXPECT_EQ(a.I64(88), 850) << "MftZoneEnd, past the zone";
  }
  EXPECT_EQ(Send(v, volume, fsctl::kGetNtfsVolumeData, nullptr, 0, 95).error, kInsufficientBuffer);
  v.Close(item);
  v.Close(volume);
  SimulatedVolume fat = ReadVolumeText("volume C clusters 64 cluster_size 4096\n");
  const Handle fatVolume = OpenVolume(fat);
  EXPECT_EQ(Send(fat, fatVolume, fsctl::kGetNtfsVolumeData, nullptr, 0, 96).error,
            err::kInvalidFunction)
      << "a volume without a zone answers as FAT";
  fat.Close(fatVolume);
}

TEST(VolumeFileTest, ReadsTheFormatAndWritesItBack) {
  SimulatedVolume v = ReadVolumeText(kFixture);
  EXPECT_EQ(v.Clusters(), 1000u);
  EXPECT_EQ(v.ExtentsOf("C:\\Games\\Foo\\a.pak"),
            (std::vector<Extent>{{100, 5}, {-1, 3}, {110, 2}, {200, 4}}));
  const std::vector<ItemInfo> items = v.Items();
  ASSERT_EQ(items.size(), 8u);
  EXPECT_EQ(items[0].path, "C:\\Games\\");
  EXPECT_EQ(items[2].path, "C:\\Games\\Foo\\a.pak");
  EXPECT_EQ(items[2].layout.attributes, attr::kHidden);
  EXPECT_TRUE(items[5].layout.unmovable);  // meta.bin, after adj.bin
  EXPECT_TRUE(v.Check().Ok());
  RandomVolumeShape strict;  // every strictness, often
  strict.reservedRanges = strict.takenRanges = 2;
  strict.compressed = strict.encrypted = strict.inUse = 0.2;
  strict.partialMoves = strict.shortBitmap = 0.5;
  std::string strictTexts = std::string(kStrict) + "partial-moves\nshort-bitmap-answers 7\n";
  const std::string texts[] = {VolumeText(MakeRandomVolume(1, {})),
                               VolumeText(MakeRandomVolume(2, {})),
                               VolumeText(ReadVolumeText(strictTexts))};
  for (std::uint64_t seed = 1; seed <= 5; ++seed)
    strictTexts += VolumeText(MakeRandomVolume(seed, strict));
  for (const std::string& text : texts) {
    const SimulatedVolume back = ReadVolumeText(text);
    EXPECT_EQ(VolumeText(back), text);
    EXPECT_TRUE(back == ReadVolumeText(VolumeText(back)));
  }
  for (const char* word :
       {"\nreserved ", "\ntaken ", "\nmft-zone ", "\npartial-moves\n", "\nshort-bitmap-answers ",
        " size 20000", " in-use", " map-denied", " map-empty", "compressed", "encrypted"}) {
    EXPECT_NE(texts[2].find(word), std::string::npos) << word << " not written back";
    EXPECT_NE(strictTexts.find(word), std::string::npos) << word;
  }
  // With the strictnesses off, a seed gives the volume it always gave (the property test's seeds
  // keep their meaning): FNV-1a of seed 1's text.
  std::uint64_t hash = 0xCBF29CE484222325ULL;
  for (unsigned char c : texts[0]) hash = (hash ^ c) * 0x100000001B3ULL;
  EXPECT_EQ(hash, 0x3E4F427725CDC6CDULL);
  for (std::uint64_t seed = 1; seed <= 5; ++seed) {  // sound, and what they write reads back
    const SimulatedVolume random = MakeRandomVolume(seed, strict);
    EXPECT_TRUE(random.Check().Ok());
    EXPECT_TRUE(ReadVolumeText(VolumeText(random)) == random) << seed;
  }
}

TEST(VolumeFileTest, MalformedLinesNameTheirLine) {
  const std::string head = "volume C clusters 1000 cluster_size 4096\n";
  const std::pair<std::string, const char*> rows[] = {
      {"file C:\\a extents 1:1\n", "line 1: the volume line must come first"},
      {head + head, "line 2: a second volume line"},
      {head + "\n# note\nfile C:\\a extents 5:1 2000:x\n",
       "line 4: extent 2000:x is not LCN:COUNT"},
      {head + "file C:\\a extents 5:0\n", "line 2: extent 5:0 is not LCN:COUNT"},
      {head + "file C:\\a extents 10:5\nfile C:\\b extents 12:5\n",
       "line 3: C:\\b: extent 12:5 overlaps"},
      {head + "file C:\\a extents 10:5 12:1\n", "line 2: C:\\a: extents 10:5 and 12:1 overlap"},
      {head + "file C:\\a extents 998:5\n", "line 2: C:\\a: extent 998:5 lies past the volume end"},
      {head + "used 0:10\nfile C:\\a extents 9:1\n", "line 3: C:\\a: extent 9:1 overlaps"},
      {head + "file C:\\a\n", "line 2: a file needs extents or resident"},
      {head + "file C:\\a resident extents 1:1\n", "line 2: a resident item has no extents"},
      {head + "file C:\\a extents\n", "line 2: extents lists no LCN:COUNT"},
      {head + "file C:\\a resident attrs shiny\n", "line 2: unknown attribute \"shiny\""},
      {head + "file C:\\a resident lockd\n", "line 2: unknown word \"lockd\""},
      {head + "file D:\\a resident\n", "line 2: D:\\a: not a full path on drive C"},
      {head + "file C:\\a resident\nfile C:\\A resident\n", "line 3: C:\\A: exists already"},
      {head + "file C:\\a resident\nfile C:\\a\\b resident\n", "line 3: C:\\a\\b: C:\\a is a file"},
      {head + "used 995:10\n", "line 2: used range 995:10 lies past the volume end"},
      {head + "used -1:3\n", "line 2: used -1:3 is not LCN:COUNT"},
      {head + "frob\n", "line 2: unknown statement \"frob\""},
      {head + "reserved 10:5\nused 12:1\n", "line 3: used range 12:1 overlaps clusters reserved"},
      {head + "taken 10:5\nfile C:\\a extents 14:2\n",
       "line 3: C:\\a: extent 14:2 overlaps clusters"},
      {head + "taken 999:2\n", "line 2: taken range 999:2 lies past the volume end"},
      {head + "partial-moves now\n", "line 2: partial-moves stands alone"},
      {head + "mft-zone 10:5 20:5\n", "line 2: mft-zone needs one LCN:COUNT"},
      {head + "mft-zone 10:5\nmft-zone 30:5\n", "line 3: a volume has one MFT zone"},
      {head + "mft-zone 990:20\n", "line 2: MFT zone 990:20 lies past the volume end"},
      {head + "short-bitmap-answers 0\n", "line 2: short-bitmap-answers needs one count"},
      {head + "folder C:\\a size 5\n", "line 2: a folder has no size"},
      {head + "file C:\\a extents 5:1 size 4097\n", "line 2: C:\\a: size 4097 lies past"},
      {"volume C clusters 0 cluster_size 4096\n", "line 1: cluster count 0 is not"},
      {"volume C clusters 10 cluster_size 1000\n", "line 1: cluster size 1000 is not"},
      {"volume 7 clusters 10 cluster_size 4096\n", "line 1: drive 7 is not a letter"},
      {"# nothing\n", "line 1: no volume line"},
      {"volume C clusters 18446744073709551615 cluster_size 4096\n",
       "line 1: 18446744073709551615 clusters are more than"},
      {head + "file C:\\a extents -1:9223372036854775807 5:1\n",
       "line 2: C:\\a: more VCNs than a file can have"},
  };
  for (const auto& [text, message] : rows) {
    try {
      ReadVolumeText(text);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const VolumeFileError& e) {
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos)
          << e.what() << "\n  expected: " << message;
    }
  }
}

// Compressed and sparse files move in units.
bool MovesInUnits(const ItemInfo& item) {
  return !item.isFolder && (item.layout.attributes & (attr::kCompressed | attr::kSparseFile)) != 0;
}

std::uint64_t RealClusters(const std::vector<Extent>& map) {
  std::uint64_t n = 0;
  for (const Extent& e : map) n += e.lcn == kSparseLcn ? 0 : e.count;
  return n;
}

// Moves random pieces of random items to random free runs, as an engine would, and checks that
// the volume stays sound; then gathers one file into a single run.
TEST(RandomVolumeTest, StaysSoundUnderMoves) {
  for (std::uint64_t seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    RandomVolumeShape shape;
    shape.clusters = 1 << 16;
    shape.compressed = 0.1;
    SimulatedVolume v = MakeRandomVolume(seed, shape);
    ASSERT_TRUE(v.Check().Ok());
    std::vector<ItemInfo> movable;
    for (const ItemInfo& i : v.Items()) {
      if (!i.layout.extents.empty() && !i.layout.locked && !i.layout.denied && !i.layout.unmovable)
        movable.push_back(i);
    }
    ASSERT_GT(movable.size(), 20u);
    const Handle volume = OpenVolume(v);
    std::uint64_t lcn = 1000 + seed * 37, movesMade = 0;
    for (std::size_t k = 0; k < movable.size(); ++k) {
      const ItemInfo& item = movable[(k * 7 + seed) % movable.size()];
      const std::vector<Extent> map = v.ExtentsOf(item.path);
      std::uint64_t vcn = 0;
      for (const Extent& e : map) {
        if (e.lcn == kSparseLcn) {
          vcn += e.count;
          continue;
        }
        const std::uint32_t count = static_cast<std::uint32_t>((e.count + 1) / 2);
        std::uint64_t from = vcn + e.count - count, room = count;
        if (MovesInUnits(item)) {
          from -= from % kUnitClusters;
          room = RealClusters(map);  // at least what the units take
        }
        while (v.Bitmap().AnySet(lcn, room)) lcn = (lcn + 13) % (v.Clusters() - 300);
        const Handle file = OpenItem(v, item.path, item.isFolder);
        ASSERT_EQ(Move(v, volume, file, static_cast<std::int64_t>(from),
                       static_cast<std::int64_t>(lcn), count),
                  0u);
        v.Close(file);
        ++movesMade;
        break;
      }
    }
    const CheckResult check = v.Check();
    EXPECT_TRUE(check.contentOk);
    EXPECT_EQ(check.sharedClusters, 0u);
    EXPECT_TRUE(check.bitmapOk);
    EXPECT_EQ(v.Counters().movesDone, movesMade);

    // Gather the most fragmented movable file into one free run, piece by piece (a file moved in
    // units in one call).
    const ItemInfo* worst = &movable[0];
    for (const ItemInfo& i : movable) {
      if (!i.isFolder && v.ExtentsOf(i.path).size() > v.ExtentsOf(worst->path).size()) worst = &i;
    }
    std::uint64_t target = 0;
    while (v.Bitmap().AnySet(target, RealClusters(v.ExtentsOf(worst->path)))) ++target;
    std::uint64_t vcn = 0;
    const Handle file = OpenItem(v, worst->path, worst->isFolder);
    for (const Extent& e : v.ExtentsOf(worst->path)) {
      if (MovesInUnits(*worst)) {
        std::uint64_t vcns = 0;
        for (const Extent& x : v.ExtentsOf(worst->path)) vcns += x.count;
        ASSERT_EQ(Move(v, volume, file, 0, static_cast<std::int64_t>(target),
                       static_cast<std::uint32_t>(vcns)),
                  0u);
        break;
      }
      if (e.lcn != kSparseLcn) {
        ASSERT_EQ(Move(v, volume, file, static_cast<std::int64_t>(vcn),
                       static_cast<std::int64_t>(target), static_cast<std::uint32_t>(e.count)),
                  0u);
        target += e.count;
      }
      vcn += e.count;
    }
    EXPECT_TRUE(v.IsContiguous(worst->path)) << worst->path;
    EXPECT_TRUE(v.Check().Ok());
    v.Close(file);
    v.Close(volume);
    EXPECT_EQ(v.OpenHandles(), 0);
  }
}

// Counts the free runs of the whole volume read through the control code, a megabyte at a time.
std::uint64_t CountFreeRuns(SimulatedVolume& v, Handle volume) {
  std::uint64_t runs = 0, seen = 0;
  bool lastUsed = true;
  std::int64_t next = 0;
  std::vector<unsigned char> out(16 + (1 << 20));
  for (;;) {
    std::uint32_t returned = 0;
    const WinError e = v.Control(volume, fsctl::kGetVolumeBitmap, &next, 8, out.data(),
                                 static_cast<std::uint32_t>(out.size()), &returned);
    if (e != 0 && e != err::kMoreData) return 0;
    std::uint64_t size;
    std::memcpy(&size, out.data() + 8, 8);
    const std::uint64_t bytes = returned - 16;
    for (std::uint64_t i = 0; i + 8 <= bytes; i += 8) {
      std::uint64_t w;
      std::memcpy(&w, out.data() + 16 + i, 8);
      const std::uint64_t usedBefore = (w << 1) | (lastUsed ? 1 : 0);
      runs += static_cast<std::uint64_t>(__builtin_popcountll(~w & usedBefore));
      lastUsed = (w >> 63) & 1;
    }
    for (std::uint64_t i = bytes / 8 * 8; i < bytes; ++i) {  // a tail of single bytes
      for (int b = 0; b < 8; ++b) {
        const bool used = (out[16 + i] >> b) & 1;
        if (!used && lastUsed) ++runs;
        lastUsed = used;
      }
    }
    seen += bytes * 8;
    if (e == 0) break;
    next += static_cast<std::int64_t>(bytes * 8);
  }
  return seen >= v.Clusters() ? runs : 0;
}

TEST(RandomVolumeTest, BitmapVolumeOfHalfABillionClusters) {
  const auto begin = std::chrono::steady_clock::now();
  SimulatedVolume v = MakeBitmapVolume(536870912, 1000000, 7);
  const auto built = std::chrono::steady_clock::now();
  const Handle volume = OpenVolume(v);
  EXPECT_EQ(CountFreeRuns(v, volume), 1000000u);
  const auto read = std::chrono::steady_clock::now();
  std::printf("bitmap volume: built in %lld ms, read in %lld ms\n",
              static_cast<long long>(
                  std::chrono::duration_cast<std::chrono::milliseconds>(built - begin).count()),
              static_cast<long long>(
                  std::chrono::duration_cast<std::chrono::milliseconds>(read - built).count()));
  EXPECT_TRUE(v.Check().bitmapOk);
  v.Close(volume);
}

}  // namespace
}  // namespace kestrava::sim
