// The Win32 adapters on real folders (run under Wine): attributes set through the API, a file over
// 4 GiB, and a threaded search whose end comes back through the hidden window.
#include <windows.h>
#include <winioctl.h>

#include <map>
#include <string>

#include <gtest/gtest.h>

#include "search/find_file.h"
#include "win32/unique_handle.h"

namespace kestrava {
namespace {

constexpr std::int64_t kBigSize = 5LL << 30;

class Win32Tree : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
    root_ = std::string(temp) + "kestrava-search-" + std::to_string(GetCurrentProcessId()) + "\\";
    Cleanup();
    ASSERT_TRUE(CreateDirectoryA(root_.c_str(), nullptr));
    Write("a.txt", 3);
    Write("hidden.txt", 1, FILE_ATTRIBUTE_HIDDEN);
    Write("system.dat", 2, FILE_ATTRIBUTE_SYSTEM);
    ASSERT_TRUE(CreateDirectoryA((root_ + "secret").c_str(), nullptr));
    ASSERT_TRUE(SetFileAttributesA((root_ + "secret").c_str(), FILE_ATTRIBUTE_HIDDEN));
    Write("secret\\inside.txt", 4);
    ASSERT_TRUE(CreateDirectoryA((root_ + "open").c_str(), nullptr));
    Write("open\\deep.txt", 5);
    WriteBig("big.bin");
  }
  void TearDown() override { Cleanup(); }

  void Write(const std::string& name, DWORD bytes, DWORD attributes = 0) {
    const std::string path = root_ + name;
    UniqueFileHandle f(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(f) << path;
    const std::string data(bytes, 'x');
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(f.Get(), data.data(), bytes, &written, nullptr));
    f.Reset();
    if (attributes != 0) {
      ASSERT_TRUE(SetFileAttributesA(path.c_str(), attributes));
    }
  }
  void WriteBig(const std::string& name) {
    UniqueFileHandle f(CreateFileA((root_ + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(f);
    DWORD returned = 0;
    DeviceIoControl(f.Get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);  // best effort
    LARGE_INTEGER size;
    size.QuadPart = kBigSize;
    ASSERT_TRUE(SetFilePointerEx(f.Get(), size, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(f.Get()));
  }
  void Cleanup() {
    for (const char* name : {"a.txt", "hidden.txt", "system.dat", "secret\\inside.txt",
                             "open\\deep.txt", "big.bin"}) {
      const std::string path = root_ + name;
      SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileA(path.c_str());
    }
    SetFileAttributesA((root_ + "secret").c_str(), FILE_ATTRIBUTE_DIRECTORY);
    RemoveDirectoryA((root_ + "secret").c_str());
    RemoveDirectoryA((root_ + "open").c_str());
    RemoveDirectoryA(root_.c_str());
  }
  std::map<std::string, TFileDetails> Search(TFindFile& finder) {
    std::map<std::string, TFileDetails> found;
    finder.OnFileMatch = [&](TFindFile&, const TFileDetails& d) { found[d.Folder + d.Name] = d; };
    finder.Execute();
    return found;
  }

  std::string root_;
};

TEST_F(Win32Tree, EnumerationReturnsAttributesAndTheFullSize) {
  DirectoryPort& dir = PlatformDirectory();
  std::map<std::string, TFindData> seen;
  TFindData d;
  DirectoryPort::Handle h = DirectoryPort::kInvalid;
  ASSERT_EQ(dir.FindFirst(root_ + "*", d, &h), err::kSuccess);
  ASSERT_NE(h, DirectoryPort::kInvalid);
  do seen[d.Name] = d;
  while (dir.FindNext(h, d) == err::kSuccess);
  dir.FindClose(h);
  EXPECT_TRUE(seen["hidden.txt"].Attributes & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(seen["system.dat"].Attributes & FILE_ATTRIBUTE_SYSTEM);
  EXPECT_TRUE(seen["secret"].Attributes & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(seen["secret"].Attributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(seen["big.bin"].SizeHigh, 1u);
  EXPECT_EQ(seen["big.bin"].Size(), kBigSize);
  EXPECT_EQ(seen["a.txt"].Size(), 3);

  DirectoryPort::Handle none = DirectoryPort::kInvalid;
  EXPECT_EQ(dir.FindFirst(root_ + "missing\\*", d, &none), static_cast<WinError>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(none, DirectoryPort::kInvalid);
}

TEST_F(Win32Tree, DefaultCriteriaSkipHiddenAndSystemAndStayOutOfHiddenFolders) {
  TFindFile finder;
  finder.Criteria().Files().SetLocation(root_);
  const auto found = Search(finder);
  EXPECT_EQ(found.size(), 3u);
  EXPECT_TRUE(found.count(root_ + "a.txt"));
  EXPECT_TRUE(found.count(root_ + "big.bin"));
  EXPECT_TRUE(found.count(root_ + "open\\deep.txt"));
}

TEST_F(Win32Tree, EngineCriteriaFindEveryFileWithItsSizeAndTime) {
  TFindFile finder;
  finder.Criteria().Files().SetFileName("*");
  finder.Criteria().Files().SetLocation(root_ + ";");
  finder.Criteria().Attributes().Clear();
  finder.Criteria().Attributes().SetDirectory(fsAnyUnset);
  const auto found = Search(finder);
  EXPECT_EQ(found.size(), 6u);
  ASSERT_TRUE(found.count(root_ + "secret\\inside.txt"));
  ASSERT_TRUE(found.count(root_ + "big.bin"));
  EXPECT_EQ(found.at(root_ + "big.bin").Size, kBigSize);
  // Written a moment ago, in local time.
  SYSTEMTIME now;
  GetLocalTime(&now);
  const TDateTime local = EncodeDateTime({now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                                          now.wSecond, now.wMilliseconds});
  EXPECT_NEAR(found.at(root_ + "a.txt").ModifiedTime, local, 5.0 / 1440) << "within five minutes";

  finder.Criteria().Size().Min = (4LL << 30) + 1;
  EXPECT_EQ(Search(finder).size(), 1u) << "only the file over 4 GiB";
}

TEST_F(Win32Tree, AThreadedSearchEndsThroughTheHiddenWindow) {
  TFindFile finder;
  finder.Criteria().Files().SetLocation(root_);
  const DWORD owner = GetCurrentThreadId();
  DWORD walkThread = 0;
  DWORD finishThread = 0;
  int files = 0;
  finder.OnFileMatch = [&](TFindFile&, const TFileDetails&) {
    walkThread = GetCurrentThreadId();
    ++files;
  };
  finder.OnSearchFinish = [&](TFindFile&) {
    finishThread = GetCurrentThreadId();
    PostQuitMessage(0);
  };
  finder.Threaded = true;
  finder.Execute();
  // An ordinary message loop: the end arrives as a message to the finder's window.
  const UINT_PTR timer = SetTimer(nullptr, 0, 20000, nullptr);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER && msg.hwnd == nullptr) break;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  KillTimer(nullptr, timer);
  EXPECT_FALSE(finder.Busy());
  EXPECT_EQ(files, 3);
  EXPECT_NE(walkThread, owner);
  EXPECT_EQ(finishThread, owner);
}

TEST(Win32Paths, FullPathsAndNetworkNames) {
  PathPort& paths = PlatformPaths();
  char current[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, current), 0u);
  std::string expected = current;
  if (expected.back() != '\\') expected += '\\';
  std::string full;
  ASSERT_EQ(paths.FullPath("sub\\..\\x", &full), err::kSuccess);
  EXPECT_EQ(full, expected + "x");
  std::string unc;
  EXPECT_NE(paths.UniversalName("C:\\windows", &unc), err::kSuccess)
      << "a local drive has no network name";
  TTargetPaths targets;
  EXPECT_EQ(targets.AddFolder("C:/windows/system32/..", nullptr, true, 0, 0).Folder, "C:\\windows\\");
}

}  // namespace
}  // namespace kestrava
