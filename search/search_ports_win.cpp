// The Win32 answers to the search ports: FindFirstFileNoRedir / FindNextFileA / FindClose,
// GetFullPathNameA and WNetGetUniversalNameA (looked up at run time: MPR is no KnownDLL),
// FileTimeToLocalFileTime, and the error box of a threaded search.
#include <windows.h>
#include <winnetwk.h>

#include <vector>

#include "win32/redirection_win.h"
#include "search/search_ports.h"
#include "win32/dynamic_calls_win.h"
#include "win32/last_error.h"
#include "win32/unique_handle.h"

namespace kestrava {
namespace {

std::uint64_t ToUint64(const FILETIME& t) {
  return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

void CopyFindData(const WIN32_FIND_DATAA& w, TFindData& data) {
  data.Attributes = w.dwFileAttributes;
  data.CreationTime = ToUint64(w.ftCreationTime);
  data.LastAccessTime = ToUint64(w.ftLastAccessTime);
  data.LastWriteTime = ToUint64(w.ftLastWriteTime);
  data.SizeHigh = w.nFileSizeHigh;
  data.SizeLow = w.nFileSizeLow;
  data.Name.assign(w.cFileName);
}

class Win32Directory final : public DirectoryPort {
 public:
  // The scope hint is not passed on: FindFirstFileEx's directory limit is advisory, and not
  // every file system of XP's time honours it.
  WinError FindFirst(const std::string& pattern, TFindData& data, Handle* handle,
                     FindScope) override {
    WIN32_FIND_DATAA w;
    const HANDLE h = FindFirstFileNoRedir(IsWow64, pattern, w);
    if (h == INVALID_HANDLE_VALUE) return FailureCode();
    CopyFindData(w, data);
    *handle = reinterpret_cast<Handle>(h);
    return err::kSuccess;
  }
  WinError FindNext(Handle handle, TFindData& data) override {
    WIN32_FIND_DATAA w;
    if (!FindNextFileA(reinterpret_cast<HANDLE>(handle), &w)) return FailureCode();
    CopyFindData(w, data);
    return err::kSuccess;
  }
  void FindClose(Handle handle) override { CloseFind(reinterpret_cast<HANDLE>(handle)); }
};

class Win32Paths final : public PathPort {
 public:
  char Separator() const override { return '\\'; }
  // The system takes "/" for "\" in paths as well.
  bool IsNameDelimiter(char c) const override { return c == '\\' || c == '/' || c == ':'; }

  WinError FullPath(const std::string& path, std::string* full) override {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
      char* namePart = nullptr;
      const DWORD length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()),
                                            buffer.data(), &namePart);
      if (length == 0) return FailureCode();
      if (length < buffer.size()) {
        full->assign(buffer.data(), length);
        return err::kSuccess;
      }
      buffer.resize(length + 1);
    }
  }

  // The call gives its code as its result, not through the last error. A system whose MPR could
  // not be loaded has no network provider to name a share.
  WinError UniversalName(const std::string& path, std::string* unc) override {
    const WNetGetUniversalNameAFn getUniversalName = SystemCalls().wNetGetUniversalNameA;
    if (getUniversalName == nullptr) return ERROR_NO_NETWORK;
    std::vector<char> buffer(1024);
    DWORD result = ERROR_MORE_DATA;
    // A second attempt with the size the first one asked for; a provider that asks again gets
    // its ERROR_MORE_DATA back.
    for (int attempt = 0; attempt < 2 && result == ERROR_MORE_DATA; ++attempt) {
      DWORD size = static_cast<DWORD>(buffer.size());
      result = getUniversalName(path.c_str(), UNIVERSAL_NAME_INFO_LEVEL, buffer.data(), &size);
      if (result == ERROR_MORE_DATA) buffer.resize(size);
    }
    if (result != NO_ERROR) return result;
    const auto* info = reinterpret_cast<const UNIVERSAL_NAME_INFOA*>(buffer.data());
    // A provider that answers without a name has not named a network share.
    if (info->lpUniversalName == nullptr) return ERROR_NOT_CONNECTED;
    unc->assign(info->lpUniversalName);
    return err::kSuccess;
  }
};

class Win32LocalTime final : public LocalTimePort {
 public:
  WinError ToLocalFields(std::uint64_t fileTime, LocalTimeFields* f) override {
    FILETIME utc;
    utc.dwLowDateTime = static_cast<DWORD>(fileTime);
    utc.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
    FILETIME local;
    SYSTEMTIME st;
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st)) {
      return FailureCode();
    }
    f->Year = st.wYear;
    f->Month = st.wMonth;
    f->Day = st.wDay;
    f->Hour = st.wHour;
    f->Minute = st.wMinute;
    f->Second = st.wSecond;
    f->Milliseconds = st.wMilliseconds;
    return err::kSuccess;
  }
};

}  // namespace

DirectoryPort& PlatformDirectory() {
  static Win32Directory port;
  return port;
}
PathPort& PlatformPaths() {
  static Win32Paths port;
  return port;
}
LocalTimePort& PlatformLocalTime() {
  static Win32LocalTime port;
  return port;
}
void ShowSearchError(const std::string& message) {
  MessageBoxA(nullptr, message.c_str(), "Error", MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

}  // namespace kestrava
