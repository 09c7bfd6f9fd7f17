// The Win32 answers to the search ports: FindFirstFileNoRedir / FindNextFileA / FindClose,
// GetFullPathNameA and WNetGetUniversalNameA, FileTimeToLocalFileTime, and the error box of a
// threaded search.
#include <windows.h>
#include <winnetwk.h>

#include <vector>

#include "common/system_win.h"
#include "search/search_ports.h"
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
  Handle FindFirst(const std::string& pattern, TFindData& data, WinError* error,
                   FindScope) override {
    WIN32_FIND_DATAA w;
    const HANDLE h = FindFirstFileNoRedir(IsWow64, pattern, w);
    if (h == INVALID_HANDLE_VALUE) {
      if (error) *error = GetLastError();
      return kInvalid;
    }
    CopyFindData(w, data);
    return reinterpret_cast<Handle>(h);
  }
  bool FindNext(Handle handle, TFindData& data) override {
    WIN32_FIND_DATAA w;
    if (!FindNextFileA(reinterpret_cast<HANDLE>(handle), &w)) return false;
    CopyFindData(w, data);
    return true;
  }
  void FindClose(Handle handle) override { ::FindClose(reinterpret_cast<HANDLE>(handle)); }
};

class Win32Paths final : public PathPort {
 public:
  char Separator() const override { return '\\'; }
  // The system takes "/" for "\" in paths as well.
  bool IsNameDelimiter(char c) const override { return c == '\\' || c == '/' || c == ':'; }

  bool FullPath(const std::string& path, std::string* full) override {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
      char* namePart = nullptr;
      const DWORD length =
          GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), &namePart);
      if (length == 0) return false;
      if (length < buffer.size()) {
        full->assign(buffer.data(), length);
        return true;
      }
      buffer.resize(length + 1);
    }
  }

  bool UniversalName(const std::string& path, std::string* unc) override {
    std::vector<char> buffer(1024);
    for (int attempt = 0; attempt < 2; ++attempt) {
      DWORD size = static_cast<DWORD>(buffer.size());
      const DWORD result =
          WNetGetUniversalNameA(path.c_str(), UNIVERSAL_NAME_INFO_LEVEL, buffer.data(), &size);
      if (result == NO_ERROR) {
        const auto* info = reinterpret_cast<const UNIVERSAL_NAME_INFOA*>(buffer.data());
        if (info->lpUniversalName == nullptr) return false;
        unc->assign(info->lpUniversalName);
        return true;
      }
      if (result != ERROR_MORE_DATA) return false;
      buffer.resize(size);
    }
    return false;
  }
};

class Win32LocalTime final : public LocalTimePort {
 public:
  bool ToLocalFields(std::uint64_t fileTime, LocalTimeFields* f) override {
    FILETIME utc;
    utc.dwLowDateTime = static_cast<DWORD>(fileTime);
    utc.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
    FILETIME local;
    SYSTEMTIME st;
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st)) return false;
    f->Year = st.wYear;
    f->Month = st.wMonth;
    f->Day = st.wDay;
    f->Hour = st.wHour;
    f->Minute = st.wMinute;
    f->Second = st.wSecond;
    f->Milliseconds = st.wMilliseconds;
    return true;
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
