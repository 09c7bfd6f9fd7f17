#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "win32/dynamic_calls_win.h"
#include "boost/privilege_port.h"
#include "common/error.h"
#include "common/system_message.h"
#include "win32/redirection_win.h"
#include "defrag/cluster_size.h"
#include "win32/unique_handle.h"

namespace kestrava {
namespace {

std::string WindowsDirectory() {
  char windows[MAX_PATH];
  const UINT length = GetWindowsDirectoryA(windows, MAX_PATH);
  return std::string(windows, length < MAX_PATH ? length : 0);
}

// The machine a PE image is built for (IMAGE_FILE_MACHINE_I386, ...); 0 when it cannot be read.
// The file is opened as any file call would open it: through the redirection in force.
WORD ImageMachine(const std::string& path) {
  UniqueFileHandle file(
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return 0;
  IMAGE_DOS_HEADER dos;
  DWORD read = 0;
  if (!ReadFile(file.Get(), &dos, sizeof dos, &read, nullptr) || read != sizeof dos ||
      dos.e_magic != IMAGE_DOS_SIGNATURE) {
    return 0;
  }
  if (SetFilePointer(file.Get(), dos.e_lfanew, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
    return 0;
  }
  struct {
    DWORD signature;
    IMAGE_FILE_HEADER header;
  } nt;
  if (!ReadFile(file.Get(), &nt, sizeof nt, &read, nullptr) || read != sizeof nt ||
      nt.signature != IMAGE_NT_SIGNATURE) {
    return 0;
  }
  return nt.header.Machine;
}

TEST(EnablePrivilege, ReportsTheRequestNotWhetherTheTokenHoldsIt) {
  PrivilegePort& privileges = PlatformPrivileges();
  EXPECT_TRUE(EnablePrivilege(privileges, "SeDebugPrivilege"));
  // SeTcbPrivilege ("act as part of the operating system") is not held by an ordinary token.
  EXPECT_TRUE(EnablePrivilege(privileges, "SeTcbPrivilege"));
  EXPECT_FALSE(EnablePrivilege(privileges, "SeNoSuchPrivilege"));
  EXPECT_EQ(privileges.Enable("SeNoSuchPrivilege"), static_cast<WinError>(ERROR_NO_SUCH_PRIVILEGE));
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

// Under WOW64 a 32-bit process that opens System32 is given SysWOW64 with its 32-bit images; with
// redirection off it sees the system's own images, built for the machine.
TEST(Redirection, SwitchedOffAndBackOnAroundOneCall) {
  const std::string kernel = WindowsDirectory() + "\\System32\\kernel32.dll";
  ASSERT_EQ(ImageMachine(kernel), IMAGE_FILE_MACHINE_I386) << "redirected, or a 32-bit system";
  if (!IsWow64) {
    // A 32-bit system has nothing to redirect: asking for it fails (with ERROR_INVALID_FUNCTION
    // where the entry points are missing), the guard reports it, and nothing changes.
    SetLastError(0);
    const RedirectionOff off(true);
    EXPECT_FALSE(off.ok());
    const DWORD error = GetLastError();
    EXPECT_NE(error, 0u);
    if (!RedirAvailable) {
      EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    }
    EXPECT_EQ(ImageMachine(kernel), IMAGE_FILE_MACHINE_I386);
    return;
  }
  TRedirState state;
  ASSERT_TRUE(DisableRedirection(true, state));
  EXPECT_TRUE(state.Disabled);
  EXPECT_NE(ImageMachine(kernel), IMAGE_FILE_MACHINE_I386) << "the system's own image";
  RevertRedirection(state);
  EXPECT_EQ(ImageMachine(kernel), IMAGE_FILE_MACHINE_I386) << "redirected again after the revert";
  {
    const RedirectionOff off(IsWow64);
    ASSERT_TRUE(off.ok());
    EXPECT_NE(ImageMachine(kernel), IMAGE_FILE_MACHINE_I386) << "the system's own image";
  }
  EXPECT_EQ(ImageMachine(kernel), IMAGE_FILE_MACHINE_I386) << "redirected again after the guard";
}

TEST(Redirection, TheGuardKeepsTheLastErrorOfTheCallInsideIt) {
  for (const bool switchOff : {false, IsWow64}) {
    {
      const RedirectionOff off(switchOff);
      ASSERT_TRUE(off.ok());
      SetLastError(4321);
    }
    EXPECT_EQ(GetLastError(), 4321u) << switchOff;
  }
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

// WOW64 leaves two traces that do not depend on IsWow64Process: it tells every 32-bit process the
// machine's own architecture in PROCESSOR_ARCHITEW6432, and a 64-bit system keeps its 32-bit
// images in SysWOW64 beside System32.
TEST(Redirection, IsWow64AgreesWithTheTracesWow64Leaves) {
  const bool announced = GetEnvironmentVariableA("PROCESSOR_ARCHITEW6432", nullptr, 0) > 0;
  const DWORD sysWow64 = GetFileAttributesA((WindowsDirectory() + "\\SysWOW64").c_str());
  const bool hasSysWow64 =
      sysWow64 != INVALID_FILE_ATTRIBUTES && (sysWow64 & FILE_ATTRIBUTE_DIRECTORY) != 0;
  EXPECT_EQ(IsWow64, announced);
  EXPECT_EQ(IsWow64, hasSysWow64);
}

// Wine, like Windows 8 and later, has every entry point of the table; a misspelt name would leave
// its pointer null and its feature silently off.
TEST(SystemCalls, FindsEveryEntryPointOfTheTable) {
  const DynamicCalls& calls = SystemCalls();
  EXPECT_NE(calls.isWow64Process, nullptr);
  EXPECT_NE(calls.wow64DisableWow64FsRedirection, nullptr);
  EXPECT_NE(calls.wow64RevertWow64FsRedirection, nullptr);
  EXPECT_NE(calls.setDefaultDllDirectories, nullptr);

  // MPR, which the program does not import, is the system folder's.
  ASSERT_NE(calls.wNetGetUniversalNameA, nullptr);
  HMODULE mpr = nullptr;
  ASSERT_TRUE(GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(calls.wNetGetUniversalNameA)), &mpr));
  wchar_t file[MAX_PATH];
  wchar_t system[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(mpr, file, MAX_PATH), 0u);
  ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
  EXPECT_EQ(lstrcmpiW(file, (std::wstring(system) + L"\\mpr.dll").c_str()), 0);
  ASSERT_NE(calls.querySystemInformation, nullptr);

  // The typed pointer is called as the system defines it: a buffer too small is asked to grow
  // (STATUS_INFO_LENGTH_MISMATCH), a large enough one holds a process list that names this process.
  constexpr ULONG kSystemProcessInformation = 5;
  constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
  char tiny[16];
  EXPECT_EQ(calls.querySystemInformation(kSystemProcessInformation, tiny, sizeof tiny, nullptr),
            kInfoLengthMismatch);
  std::vector<char> buffer(0x8000);
  LONG status = kInfoLengthMismatch;
  while ((status = calls.querySystemInformation(kSystemProcessInformation, buffer.data(),
                                                static_cast<ULONG>(buffer.size()), nullptr)) ==
         kInfoLengthMismatch) {
    buffer.resize(buffer.size() * 2);
  }
  ASSERT_EQ(status, 0);
  bool listed = false;
  for (std::size_t offset = 0;;) {
    ULONG next = 0;
    ULONG_PTR processId = 0;
    std::memcpy(&next, &buffer[offset], sizeof next);
    std::memcpy(&processId, &buffer[offset + 0x44], sizeof processId);  // UniqueProcessId
    if (processId == GetCurrentProcessId()) listed = true;
    if (next == 0) break;
    offset += next;
  }
  EXPECT_TRUE(listed);
}

}  // namespace
}  // namespace kestrava
