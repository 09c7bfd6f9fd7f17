// The Win32 answers to the search ports: FindFirstFileNoRedir / FindNextFileA / FindClose,
// GetFullPathNameA and WNetGetUniversalNameA, FileTimeToLocalFileTime, and for a threaded search a
// thread of its own plus a message-only window in the creating thread.
#include <windows.h>
#include <process.h>
#include <winnetwk.h>

#include <vector>

#include "common/error.h"
#include "common/system_message.h"
#include "common/system_win.h"
#include "search/search_ports.h"
#include "win32/last_error.h"
#include "win32/unique_handle.h"

namespace kestrava {
namespace {

// Posted to a finder's window when its search thread has finished walking.
constexpr UINT kSearchEndedMessage = WM_USER + 1;
constexpr char kWindowClass[] = "KestravaFindFileWindow";

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
  void FindClose(Handle handle) override { ::FindClose(reinterpret_cast<HANDLE>(handle)); }
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
      const DWORD length =
          GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), &namePart);
      if (length == 0) return FailureCode();
      if (length < buffer.size()) {
        full->assign(buffer.data(), length);
        return err::kSuccess;
      }
      buffer.resize(length + 1);
    }
  }

  // The call gives its code as its result, not through the last error.
  WinError UniversalName(const std::string& path, std::string* unc) override {
    std::vector<char> buffer(1024);
    DWORD result = ERROR_MORE_DATA;
    // A second attempt with the size the first one asked for; a provider that asks again gets
    // its ERROR_MORE_DATA back.
    for (int attempt = 0; attempt < 2 && result == ERROR_MORE_DATA; ++attempt) {
      DWORD size = static_cast<DWORD>(buffer.size());
      result = WNetGetUniversalNameA(path.c_str(), UNIVERSAL_NAME_INFO_LEVEL, buffer.data(), &size);
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

// The hidden window: message-only, in the thread that creates it. Its user data points at the
// channel while the channel lives.
class Win32Channel final : public OwnerChannel {
 public:
  explicit Win32Channel(std::function<void()> onSearchEnded)
      : onSearchEnded_(std::move(onSearchEnded)), ownerThread_(GetCurrentThreadId()) {
    RegisterClassOnce();
    window_.Reset(CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleA(nullptr), nullptr));
    if (!window_) {
      throw KestravaError("Cannot create the search window: " + SystemMessage(GetLastError()));
    }
    SetWindowLongPtrA(window_.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~Win32Channel() override {
    // Posted notices die with the window.
    if (window_) SetWindowLongPtrA(window_.Get(), GWLP_USERDATA, 0);
  }

  void PostSearchEnded() override { PostMessageA(window_.Get(), kSearchEndedMessage, 0, 0); }
  bool InOwnerThread() const override { return GetCurrentThreadId() == ownerThread_; }

 private:
  static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kSearchEndedMessage) {
      auto* channel = reinterpret_cast<Win32Channel*>(GetWindowLongPtrA(window, GWLP_USERDATA));
      // The handler may destroy the channel: nothing of it is used afterwards.
      if (channel != nullptr) channel->onSearchEnded_();
      return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
  }

  static void RegisterClassOnce() {
    static const ATOM atom = [] {
      WNDCLASSA wc = {};
      wc.lpfnWndProc = &Win32Channel::WndProc;
      wc.hInstance = GetModuleHandleA(nullptr);
      wc.lpszClassName = kWindowClass;
      return RegisterClassA(&wc);
    }();
    (void)atom;
  }

  std::function<void()> onSearchEnded_;
  DWORD ownerThread_;
  UniqueWindow window_;
};

int ToWin32Priority(TThreadPriority priority) {
  switch (priority) {
    case tpIdle: return THREAD_PRIORITY_IDLE;
    case tpLowest: return THREAD_PRIORITY_LOWEST;
    case tpLower: return THREAD_PRIORITY_BELOW_NORMAL;
    case tpNormal: return THREAD_PRIORITY_NORMAL;
    case tpHigher: return THREAD_PRIORITY_ABOVE_NORMAL;
    case tpHighest: return THREAD_PRIORITY_HIGHEST;
    case tpTimeCritical: return THREAD_PRIORITY_TIME_CRITICAL;
  }
  return THREAD_PRIORITY_NORMAL;
}

class Win32Thread final : public WorkerThread {
 public:
  Win32Thread(std::function<void()> body, TThreadPriority priority) {
    auto* start = new std::function<void()>(std::move(body));
    unsigned id = 0;
    // _beginthreadex rather than CreateThread: the body uses the C runtime.
    const uintptr_t h = _beginthreadex(nullptr, 0, &Win32Thread::Run, start, CREATE_SUSPENDED, &id);
    if (h == 0) {
      const DWORD error = GetLastError();
      delete start;
      throw KestravaError("Thread creation error: " + SystemMessage(error));
    }
    thread_.Reset(reinterpret_cast<HANDLE>(h));
    SetThreadPriority(thread_.Get(), ToWin32Priority(priority));
    ResumeThread(thread_.Get());
  }
  ~Win32Thread() override { WaitForSingleObject(thread_.Get(), INFINITE); }
  bool WaitFor(std::uint32_t milliseconds) override {
    return WaitForSingleObject(thread_.Get(), milliseconds) == WAIT_OBJECT_0;
  }

 private:
  static unsigned __stdcall Run(void* argument) {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
    (*body)();
    return 0;
  }
  UniqueKernelHandle thread_;
};

class Win32Threads final : public ThreadPort {
 public:
  std::unique_ptr<OwnerChannel> CreateChannel(std::function<void()> onSearchEnded) override {
    return std::make_unique<Win32Channel>(std::move(onSearchEnded));
  }
  std::unique_ptr<WorkerThread> StartThread(std::function<void()> body,
                                            TThreadPriority priority) override {
    return std::make_unique<Win32Thread>(std::move(body), priority);
  }
  bool PumpOneMessage() override {
    MSG msg;
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
    if (msg.message == WM_QUIT) {
      // Not ours to consume: leave it for the thread's own message loop.
      PostQuitMessage(static_cast<int>(msg.wParam));
      return false;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    return true;
  }
  void YieldThread() override { SwitchToThread(); }
  void ReportError(const std::string& message) override {
    MessageBoxA(nullptr, message.c_str(), "Error", MB_OK | MB_ICONERROR | MB_TASKMODAL);
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
ThreadPort& PlatformThreads() {
  static Win32Threads port;
  return port;
}

}  // namespace kestrava
