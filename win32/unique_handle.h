#pragma once
// One owning wrapper for every kind of Win32 handle. Each kind is a one-line alias naming its
// close function and its invalid value; Win32 has two of those (NULL for most handles,
// INVALID_HANDLE_VALUE for CreateFile and FindFirstFile), and the alias says which.
#include <windows.h>

#include <utility>

namespace kestrava {

template <typename Handle, auto Close, auto InvalidValue>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(Handle h) : handle_(h) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  Handle Get() const { return handle_; }
  bool IsValid() const { return handle_ != Invalid(); }
  explicit operator bool() const { return IsValid(); }

  // For APIs that return the handle through an out-parameter.
  Handle* Put() {
    Reset();
    return &handle_;
  }
  Handle Release() { return std::exchange(handle_, Invalid()); }
  // Keeps the calling thread's last error: a wrapper that goes out of scope between a failed call
  // and its caller's GetLastError must not answer for the call.
  void Reset(Handle h = Invalid()) {
    if (handle_ != Invalid()) {
      const DWORD lastError = ::GetLastError();
      Close(handle_);
      ::SetLastError(lastError);
    }
    handle_ = h;
  }

 private:
  static Handle Invalid() { return reinterpret_cast<Handle>(InvalidValue); }
  Handle handle_ = Invalid();
};

// The close function of each kind: the aliases below call them, and so does the Close of a port
// adapter, which takes back a handle that a PortHandle owned on the port's side. No other code
// closes a Win32 handle.
inline void CloseKernelHandle(HANDLE h) { ::CloseHandle(h); }
inline void CloseFind(HANDLE h) { ::FindClose(h); }
inline void CloseRegKey(HKEY h) { ::RegCloseKey(h); }
inline void CloseScHandle(SC_HANDLE h) { ::CloseServiceHandle(h); }
inline void DestroyWindowHandle(HWND h) { ::DestroyWindow(h); }
inline void CloseGdiObject(HGDIOBJ h) { ::DeleteObject(h); }
// The screen's device context, from GetDC(nullptr).
inline void ReleaseScreenDc(HDC h) { ::ReleaseDC(nullptr, h); }
inline void FreeGlobalMemory(HGLOBAL h) { ::GlobalFree(h); }
inline void FreeLocalMemory(HLOCAL h) { ::LocalFree(h); }

constexpr LONG_PTR kNullHandle = 0;
constexpr LONG_PTR kInvalidHandle = -1;

using UniqueKernelHandle =
    UniqueHandle<HANDLE, CloseKernelHandle, kNullHandle>;  // process, thread, token, mutex
using UniqueFileHandle = UniqueHandle<HANDLE, CloseKernelHandle, kInvalidHandle>;  // CreateFile
using UniqueFindHandle = UniqueHandle<HANDLE, CloseFind, kInvalidHandle>;          // FindFirstFile
using UniqueRegKey = UniqueHandle<HKEY, CloseRegKey, kNullHandle>;
using UniqueScHandle = UniqueHandle<SC_HANDLE, CloseScHandle, kNullHandle>;
using UniqueWindow = UniqueHandle<HWND, DestroyWindowHandle, kNullHandle>;
using UniqueGdiObject = UniqueHandle<HGDIOBJ, CloseGdiObject, kNullHandle>;
using UniqueScreenDc = UniqueHandle<HDC, ReleaseScreenDc, kNullHandle>;
using UniqueGlobalMemory = UniqueHandle<HGLOBAL, FreeGlobalMemory, kNullHandle>;  // GlobalAlloc
// What the security conversions (ConvertSidToStringSid and kin) hand back for LocalFree.
using UniqueLocalMemory = UniqueHandle<HLOCAL, FreeLocalMemory, kNullHandle>;

}  // namespace kestrava
