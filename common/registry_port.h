#pragma once
// The current user's registry, as the core sees it. A thin pass-through to the Reg* calls: keys
// are opaque handles, paths are relative to HKEY_CURRENT_USER, results are Win32 error codes.
#include <cstdint>
#include <string>

#include "common/port_handle.h"
#include "common/win_error.h"

namespace kestrava {

class RegistryPort {
 public:
  using Key = std::uintptr_t;  // HKEY on Windows; 0 is never a valid key
  using Handle = Key;          // what a PortHandle owns

  virtual ~RegistryPort() = default;

  // RegCreateKeyExA with KEY_ALL_ACCESS; when isVolatile, the key and every missing parent created
  // with it are volatile (they vanish when the user's hive is unloaded).
  virtual WinError CreateKey(const std::string& path, bool isVolatile, Key* key) = 0;
  // RegOpenKeyExA, read-only (KEY_READ) or with KEY_ALL_ACCESS.
  virtual WinError OpenKey(const std::string& path, bool writable, Key* key) = 0;
  virtual void CloseKey(Key key) = 0;
  void Close(Key key) { CloseKey(key); }  // the name PortHandle calls
  // RegEnumValueA / RegEnumKeyExA: the name at index, kNoMoreItems past the end.
  virtual WinError EnumValueName(Key key, std::uint32_t index, std::string* name) = 0;
  virtual WinError EnumSubKeyName(Key key, std::uint32_t index, std::string* name) = 0;
  virtual WinError SetDwordValue(Key key, const std::string& name, std::uint32_t data) = 0;
  virtual WinError DeleteValue(Key key, const std::string& name) = 0;
  // RegDeleteKeyA: removes a subkey that has no subkeys of its own.
  virtual WinError DeleteSubKey(Key key, const std::string& subKey) = 0;
};

// The real registry (Windows build only).
RegistryPort& PlatformRegistry();

// Owns one open key of a port and closes it on every path; opens it with the port's calls.
class RegistryKey : public PortHandle<RegistryPort> {
 public:
  using PortHandle::PortHandle;

  WinError Create(const std::string& path, bool isVolatile) {
    return Source().CreateKey(path, isVolatile, Put());
  }
  WinError Open(const std::string& path, bool writable) {
    return Source().OpenKey(path, writable, Put());
  }
  void Close() { Reset(); }
};

}  // namespace kestrava
