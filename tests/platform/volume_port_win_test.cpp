// The volume adapter against the system's real volume (Wine's C: drive in the test runs). What the
// calls answer under Wine is measured in docs/wine-volumes.md; these tests hold the adapter to what
// the defragmentation engine relies on, whichever system answers.
#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "defrag/volume_port.h"
#include "win32/unique_handle.h"

namespace kestrava {
namespace {

using Handle = VolumeDevicePort::Handle;
constexpr Handle kUntouchedHandle = 0x5A5A;
constexpr std::uint32_t kUntouchedCount = 0xA5A5A5A5;
constexpr std::uint32_t kSomeCount = 0xA5A5A5A6;  // set to a count within the output

std::string Narrow(const std::wstring& text) {
  std::string result(text.size() * 4 + 1, '\0');
  const int length = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &result[0],
                                         static_cast<int>(result.size()), nullptr, nullptr);
  result.resize(length > 0 ? length - 1 : 0);
  return result;
}

// A drive letter with nothing mapped to it.
char MissingDriveLetter() {
  for (char c = 'Q'; c <= 'Y'; ++c) {
    const char root[] = {c, ':', '\\', 0};
    if (GetDriveTypeA(root) == DRIVE_NO_ROOT_DIR) return c;
  }
  return 0;
}

// A scratch folder on the system drive with files of the sizes the engine meets: empty, smaller
// than a cluster, a few clusters, and one with a name outside ASCII.
class Win32VolumeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    folder_ =
        std::wstring(temp) + L"kestrava volume test " + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr)) << GetLastError();
    ASSERT_TRUE(CreateDirectoryW(Path(L"folder").c_str(), nullptr));
    for (const auto& file : kFiles) MakeFile(file.name, file.length);
  }
  void TearDown() override {
    for (const auto& file : kFiles) DeleteFileW(Path(file.name).c_str());
    RemoveDirectoryW(Path(L"folder").c_str());
    RemoveDirectoryW(folder_.c_str());
  }

  std::wstring Path(const wchar_t* name) const { return folder_ + L"\\" + name; }

  void MakeFile(const wchar_t* name, DWORD length) {
    UniqueFileHandle file(CreateFileW(Path(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << GetLastError();
    const std::vector<char> bytes(length, 'k');
    DWORD written = 0;
    ASSERT_TRUE(length == 0 || WriteFile(file.Get(), bytes.data(), length, &written, nullptr));
    ASSERT_EQ(written, length);
  }

  struct File {
    const wchar_t* name;
    DWORD length;
  };
  static constexpr File kFiles[] = {{L"empty.bin", 0},
                                    {L"small.bin", 5000},
                                    {L"big.bin", 1 << 20},
                                    {L"Spiel-\u00e4\u00f6\u00fc-\u65e5\u672c.bin", 5000}};

  VolumeDevicePort& port_ = PlatformVolumeDevice();
  std::wstring folder_;
};

// A volume path is "\\.\" + the first character of the user's path + ":"; a path that names no
// drive must fail there, with a code, and leave the handle for the caller's cleanup alone.
TEST_F(Win32VolumeTest, AVolumeThatDoesNotExistFailsToOpenAndLeavesTheHandle) {
  const char missing = MissingDriveLetter();
  ASSERT_NE(missing, 0);
  struct Case {
    std::string path;
    WinError expected;  // 0: any failure
  } cases[] = {
      {std::string("\\\\.\\") + missing + ":", err::kFileNotFound},
      {"\\\\.\\\\:", 0},  // from "\\server\share"
      {"\\\\.\\ :", 0},   // from " C:\x"
      {"\\\\.\\1:", 0},   // from "1:\"
  };
  for (const Case& c : cases) {
    Handle volume = kUntouchedHandle;
    const WinError code = port_.OpenVolume(c.path, &volume);
    EXPECT_NE(code, err::kSuccess) << c.path;
    if (c.expected != 0) {
      EXPECT_EQ(code, c.expected) << c.path;
    }
    EXPECT_EQ(volume, kUntouchedHandle) << c.path;
  }

  DeviceHandle system(port_);
  ASSERT_EQ(port_.OpenVolume("\\\\.\\C:", system.Put()), err::kSuccess);
  EXPECT_NE(system.Get(), 0u);
}

// Both opens reach the very item named: a file with its size, a folder (only with backup
// semantics) as a folder. A file held open without any sharing still opens, since only its
// attributes are asked for: the engine must not skip a running game's files as missing.
TEST_F(Win32VolumeTest, ItemsOpenForInspectingAndMovingOrFailWithNotFound) {
  const std::wstring unicode = Path(kFiles[3].name);
  UniqueFileHandle locked(CreateFileW(Path(L"small.bin").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(locked);
  struct Case {
    std::wstring path;
    bool isFolder;
    bool inspect;  // also through the narrow path of OpenItemToInspect
    WinError expected;
    DWORD length;
  } cases[] = {
      {Path(L"empty.bin"), false, true, err::kSuccess, 0},
      {Path(L"small.bin"), false, true, err::kSuccess, 5000},
      {Path(L"big.bin"), false, true, err::kSuccess, 1 << 20},
      {Path(L"folder"), true, true, err::kSuccess, 0},
      // Characters outside the ANSI code page: the move's open is the wide one.
      {unicode, false, false, err::kSuccess, 5000},
      {Path(L"no such.bin"), false, true, err::kFileNotFound, 0},
      {Path(L"no such folder\\x.bin"), false, true, err::kPathNotFound, 0},
  };
  for (const Case& c : cases) {
    for (const bool toMove : {false, true}) {
      if (!toMove && !c.inspect) continue;
      const std::string what = Narrow(c.path) + (toMove ? " to move" : " to inspect");
      Handle item = kUntouchedHandle;
      const WinError code = toMove ? port_.OpenItemToMove(c.path, c.isFolder, ItemAccess::kAttributes, &item)
                                   : port_.OpenItemToInspect(Narrow(c.path), c.isFolder, &item);
      ASSERT_EQ(code, c.expected) << what;
      if (code != err::kSuccess) {
        EXPECT_EQ(item, kUntouchedHandle) << what;
        continue;
      }
      DeviceHandle owner(port_);
      *owner.Put() = item;
      BY_HANDLE_FILE_INFORMATION info;
      ASSERT_TRUE(GetFileInformationByHandle(reinterpret_cast<HANDLE>(item), &info)) << what;
      EXPECT_EQ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0, c.isFolder) << what;
      if (!c.isFolder) {
        EXPECT_EQ(info.nFileSizeLow, c.length) << what;
      }
    }
  }
}

// The extent map of any item that opens is well formed as far as the engine reads it: the head
// and every counted extent lie inside the bytes returned, and the count is never set on a failure.
TEST_F(Win32VolumeTest, RetrievalPointersCountOnlyExtentsThatWereWritten) {
  for (const auto& file :
       {Path(L"empty.bin"), Path(L"small.bin"), Path(L"big.bin"), Path(L"folder")}) {
    const bool isFolder = file == Path(L"folder");
    DeviceHandle item(port_);
    ASSERT_EQ(port_.OpenItemToInspect(Narrow(file), isFolder, item.Put()), err::kSuccess);
    for (const std::uint32_t outLength : {65536u, 32u}) {
      std::vector<unsigned char> out(outLength);
      const std::int64_t startingVcn = 0;
      std::uint32_t returned = kUntouchedCount;
      const WinError code = port_.Control(item.Get(), fsctl::kGetRetrievalPointers, &startingVcn,
                                          sizeof startingVcn, out.data(), outLength, &returned);
      const std::string what = Narrow(file) + " out " + std::to_string(outLength);
      if (code != err::kSuccess && code != err::kMoreData) {
        EXPECT_EQ(returned, kUntouchedCount) << what << " code " << code;
        continue;
      }
      ASSERT_GE(returned, 16u) << what;
      ASSERT_LE(returned, outLength) << what;
      DWORD extentCount = 0;
      std::memcpy(&extentCount, out.data(), sizeof extentCount);
      EXPECT_LE(16ull + 16ull * extentCount, returned) << what;
    }
  }
}

// The count of bytes is the caller's only measure of a partial answer: it is set on success and
// on 234 (the part that fits), and left alone on any other failure, where nothing was written.
TEST_F(Win32VolumeTest, ControlSetsTheCountOnlyForAnAnswer) {
  DeviceHandle file(port_);
  ASSERT_EQ(port_.OpenItemToInspect(Narrow(Path(L"small.bin")), false, file.Put()), err::kSuccess);
  DeviceHandle volume(port_);
  ASSERT_EQ(port_.OpenVolume("\\\\.\\C:", volume.Put()), err::kSuccess);
  DeviceHandle mover(port_);
  ASSERT_EQ(port_.OpenItemToMove(Path(L"small.bin"), false, ItemAccess::kAttributes, mover.Put()), err::kSuccess);

  // A message pipe holding a message longer than the output answers a peek with 234 and the
  // bytes that fit (FSCTL_PIPE_PEEK, the control code under PeekNamedPipe; its header is the
  // driver kit's).
  constexpr std::uint32_t kPipePeek =
      CTL_CODE(FILE_DEVICE_NAMED_PIPE, 3, METHOD_BUFFERED, FILE_READ_DATA);
  const std::wstring pipeName =
      L"\\\\.\\pipe\\kestrava volume test " + std::to_wstring(GetCurrentProcessId());
  UniqueFileHandle pipeRead(CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_INBOUND,
                                             PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, 4096,
                                             4096, 0, nullptr));
  ASSERT_TRUE(pipeRead) << GetLastError();
  UniqueFileHandle pipeWrite(
      CreateFileW(pipeName.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(pipeWrite) << GetLastError();
  const char message[100] = "more than fits";
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(pipeWrite.Get(), message, sizeof message, &written, nullptr));

  unsigned char move[32] = {};
  const HANDLE moved = reinterpret_cast<HANDLE>(mover.Get());
  const std::int64_t targetLcn = 100000;
  const DWORD clusters = 1;
  std::memcpy(move + offsetof(MOVE_FILE_DATA, FileHandle), &moved, sizeof moved);
  std::memcpy(move + offsetof(MOVE_FILE_DATA, StartingLcn), &targetLcn, sizeof targetLcn);
  std::memcpy(move + offsetof(MOVE_FILE_DATA, ClusterCount), &clusters, sizeof clusters);
  static_assert(sizeof move == sizeof(MOVE_FILE_DATA), "the whole structure");

  const std::int64_t zero = 0;
  struct Case {
    const char* what;
    Handle device;
    std::uint32_t code;
    const void* input;
    std::uint32_t inputLength;
    std::uint32_t outLength;
    WinError expected;
    std::uint32_t expectedCount;  // or kUntouchedCount, kSomeCount
  } cases[] = {
      {"extents", file.Get(), fsctl::kGetRetrievalPointers, &zero, 8, 4096, err::kSuccess,
       kSomeCount},
      {"extents into 16 bytes", file.Get(), fsctl::kGetRetrievalPointers, &zero, 8, 16,
       ERROR_INSUFFICIENT_BUFFER, kUntouchedCount},
      {"peek into 20 bytes", reinterpret_cast<Handle>(pipeRead.Get()), kPipePeek, nullptr, 0, 20,
       err::kMoreData, 20},
      // Wine has neither a volume bitmap nor moves; the engine's Wine test counts on that.
      {"bitmap", volume.Get(), fsctl::kGetVolumeBitmap, &zero, 8, 4112, err::kNotSupported,
       kUntouchedCount},
      {"move", volume.Get(), fsctl::kMoveFile, move, sizeof move, 0, err::kNotSupported,
       kUntouchedCount},
  };
  for (const Case& c : cases) {
    std::vector<unsigned char> out(c.outLength + 1);
    std::uint32_t returned = kUntouchedCount;
    EXPECT_EQ(port_.Control(c.device, c.code, c.input, c.inputLength,
                            c.outLength ? out.data() : nullptr, c.outLength, &returned),
              c.expected)
        << c.what;
    if (c.expectedCount == kSomeCount) {
      EXPECT_NE(returned, kUntouchedCount) << c.what;
      EXPECT_LE(returned, c.outLength) << c.what;
    } else {
      EXPECT_EQ(returned, c.expectedCount) << c.what;
    }
  }
}

TEST_F(Win32VolumeTest, ClusterSizeIsAPowerOfTwoOrAFailureThatLeavesTheOutput) {
  std::uint32_t size = kUntouchedCount;
  ASSERT_EQ(port_.ClusterSize("C:\\", &size), err::kSuccess);
  EXPECT_GE(size, 512u);
  EXPECT_EQ(size & (size - 1), 0u) << size;

  const char missing[] = {MissingDriveLetter(), ':', '\\', 0};
  ASSERT_NE(missing[0], 0);
  size = kUntouchedCount;
  EXPECT_EQ(port_.ClusterSize(missing, &size), err::kPathNotFound);
  EXPECT_EQ(size, kUntouchedCount);
}

}  // namespace
}  // namespace kestrava
