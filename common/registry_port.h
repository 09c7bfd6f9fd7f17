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

  // As the parent of OpenSubKey and CreateSubKey: HKEY_CURRENT_USER itself.
  static constexpr Key kCurrentUser = 0;

  // What a key's security descriptor says about who made it.
  struct KeySecurity {
    bool ownedByAdministrators = false;  // the owner is the Administrators group
    bool labelledHighNoWriteUp = false;  // a High mandatory label that refuses writes from below
  };

  virtual ~RegistryPort() = default;

  // RegCreateKeyExA with KEY_ALL_ACCESS; when isVolatile, the key and every missing parent created
  // with it are volatile (they vanish when the user's hive is unloaded). Like every create of the
  // registry it follows a registry link on the way and at the end.
  virtual WinError CreateKey(const std::string& path, bool isVolatile, Key* key) = 0;
  // RegOpenKeyExA, read-only (KEY_READ) or with KEY_ALL_ACCESS, with REG_OPTION_OPEN_LINK: a last
  // step that is a registry link opens the link itself, never its target.
  virtual WinError OpenKey(const std::string& path, bool writable, Key* key) = 0;
  // The same, one step below parent (kCurrentUser or an open key): no link on the way is followed.
  virtual WinError OpenSubKey(Key parent, const std::string& name, bool writable, Key* key) = 0;
  // RegCreateKeyExA of one step below parent, with KEY_ALL_ACCESS.
  virtual WinError CreateSubKey(Key parent, const std::string& name, bool isVolatile, Key* key) = 0;
  // A new volatile key below parent that only administrators may change: owner Administrators, a
  // protected DACL (SYSTEM and Administrators full control, the user read) and, where Windows has
  // integrity levels, a High mandatory label with no-write-up. kAlreadyExists, and no key, when a
  // key of that name was there already: an existing key never passes for a new one.
  virtual WinError CreateOwnKey(Key parent, const std::string& name, Key* key) = 0;
  virtual void CloseKey(Key key) = 0;
  void Close(Key key) { CloseKey(key); }  // the name PortHandle calls
  // RegEnumValueA / RegEnumKeyExA: the name at index, kNoMoreItems past the end.
  virtual WinError EnumValueName(Key key, std::uint32_t index, std::string* name) = 0;
  virtual WinError EnumSubKeyName(Key key, std::uint32_t index, std::string* name) = 0;
  // RegQueryInfoKeyA: how many values the key holds.
  virtual WinError CountValues(Key key, std::uint32_t* count) = 0;
  virtual WinError SetDwordValue(Key key, const std::string& name, std::uint32_t data) = 0;
  virtual WinError DeleteValue(Key key, const std::string& name) = 0;
  // Deletes the open key itself (NtDeleteKey), which must have no subkeys: a link opened with
  // OpenKey or OpenSubKey goes as a link, and its target stays as it is.
  virtual WinError DeleteKey(Key key) = 0;
  // Whether the open key is a registry link (it holds a REG_LINK "SymbolicLinkValue").
  virtual WinError IsLink(Key key, bool* isLink) = 0;
  // Whether the open key is volatile. Windows tells only by refusing a non-volatile subkey
  // (ERROR_CHILD_MUST_BE_VOLATILE); where one is accepted, it is deleted again at once.
  virtual WinError IsVolatile(Key key, bool* isVolatile) = 0;
  // RegGetKeySecurity of the owner and the mandatory label.
  virtual WinError QueryKeySecurity(Key key, KeySecurity* security) = 0;
  // Whether this Windows has integrity levels (Vista and later): before them no key has a label.
  virtual bool HasIntegrityLevels() = 0;
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
  WinError OpenSub(RegistryPort::Key parent, const std::string& name, bool writable) {
    return Source().OpenSubKey(parent, name, writable, Put());
  }
  void Close() { Reset(); }
};

}  // namespace kestrava
