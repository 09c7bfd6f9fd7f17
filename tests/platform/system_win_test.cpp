#include <windows.h>

#include <gtest/gtest.h>

#include "common/error.h"
#include "common/system_message.h"
#include "common/system_win.h"
#include "defrag/cluster_size.h"
#include "win32/unique_handle.h"

namespace kestrava {
namespace {

TEST(EnablePrivilege, ReportsTheRequestNotWhetherTheTokenHoldsIt) {
  EXPECT_TRUE(EnablePrivilege("SeDebugPrivilege"));
  // SeTcbPrivilege ("act as part of the operating system") is not held by an ordinary token.
  EXPECT_TRUE(EnablePrivilege("SeTcbPrivilege"));
  EXPECT_FALSE(EnablePrivilege("SeNoSuchPrivilege"));
}

TEST(VolumeClusterSize, AnswersForAnyPathOnTheVolume) {
  char windows[MAX_PATH];
  ASSERT_GT(GetWindowsDirectoryA(windows, MAX_PATH), 0u);
  const DWORD size = GetVolumeClusterSize(windows);
  EXPECT_GE(size, 512u);
  EXPECT_EQ(size & (size - 1), 0u) << "a power of two";
}

TEST(VolumeClusterSize, RaisesWithTheSystemMessageForAMissingDrive) {
  // Find a drive letter that is not mapped.
  char letter = 0;
  for (char c = 'Q'; c <= 'Y' && !letter; ++c) {
    const char root[] = {c, ':', '\\', 0};
    if (GetDriveTypeA(root) == DRIVE_NO_ROOT_DIR) letter = c;
  }
  ASSERT_NE(letter, 0);
  const std::string path = std::string(1, letter) + ":\\Games\\x";
  try {
    GetVolumeClusterSize(path.c_str());
    FAIL() << "no exception";
  } catch (const KestravaError& e) {
    const std::string message = e.what();
    EXPECT_EQ(message.rfind("Df Error 2009", 0), 0u) << message;
    EXPECT_GT(message.size(), strlen("Df Error 2009")) << "the system message follows";
    EXPECT_NE(message.back(), '.');
    EXPECT_NE(message.back(), '\n');
  }
}

TEST(SystemMessage, IsTheSystemTextWithoutTrailingPunctuation) {
  const std::string text = SystemMessage(ERROR_ACCESS_DENIED);
  EXPECT_FALSE(text.empty());
  EXPECT_NE(text.back(), '.');
  EXPECT_EQ(text, TrimMessageText(text));
}

TEST(Redirection, WithoutTheSwitchNothingIsTouched) {
  TRedirState state;
  state.Disabled = true;
  EXPECT_TRUE(DisableRedirection(false, state));
  EXPECT_FALSE(state.Disabled);
  RevertRedirection(state);  // must not call the system with a stale value
}

TEST(Redirection, SwitchedOffAndBackOnAroundOneCall) {
  // 32-bit Windows exports the entry points but has nothing to redirect: they fail there.
  if (!IsWow64) GTEST_SKIP() << "not running under WOW64";
  TRedirState state;
  ASSERT_TRUE(DisableRedirection(true, state));
  EXPECT_TRUE(state.Disabled);
  RevertRedirection(state);
}

TEST(Redirection, FindFirstFileNoRedirKeepsTheLastErrorOfTheSearch) {
  char windows[MAX_PATH];
  ASSERT_GT(GetWindowsDirectoryA(windows, MAX_PATH), 0u);
  WIN32_FIND_DATAA data;
  {
    UniqueFindHandle found(FindFirstFileNoRedir(IsWow64, std::string(windows) + "\\*", data));
    EXPECT_TRUE(found.IsValid());
  }
  UniqueFindHandle missing(
      FindFirstFileNoRedir(IsWow64, std::string(windows) + "\\no such folder\\*", data));
  EXPECT_FALSE(missing.IsValid());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST(Redirection, AskingForItWhereThereIsNothingToSwitchFailsTheSearch) {
  if (IsWow64) GTEST_SKIP() << "running under WOW64";
  char windows[MAX_PATH];
  ASSERT_GT(GetWindowsDirectoryA(windows, MAX_PATH), 0u);
  TRedirState state;
  SetLastError(0);
  EXPECT_FALSE(DisableRedirection(true, state));
  EXPECT_FALSE(state.Disabled);
  EXPECT_NE(GetLastError(), 0u);
  WIN32_FIND_DATAA data;
  UniqueFindHandle found(FindFirstFileNoRedir(true, std::string(windows) + "\\*", data));
  EXPECT_FALSE(found.IsValid()) << "the search must not run with redirection in an unknown state";
}

TEST(Redirection, A32BitSystemIsNotWow64) {
  // The test prefix is a 32-bit Wine: no WOW64 layer, so no redirection is ever switched.
  BOOL wow64 = FALSE;
  using Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
  auto fn = reinterpret_cast<Fn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32"), "IsWow64Process")));
  if (fn) fn(GetCurrentProcess(), &wow64);
  EXPECT_EQ(IsWow64, wow64 != FALSE);
}

}  // namespace
}  // namespace kestrava
