#include <windows.h>

#include "common/registry_port.h"
#include "win32/unique_handle.h"

namespace kestrava {
namespace {

HKEY AsHkey(RegistryPort::Key key) { return reinterpret_cast<HKEY>(key); }

class Win32Registry final : public RegistryPort {
 public:
  WinError CreateKey(const std::string& path, bool isVolatile, Key* key) override {
    HKEY h = nullptr;
    const LONG rc = RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr,
                                    isVolatile ? REG_OPTION_VOLATILE : REG_OPTION_NON_VOLATILE,
                                    KEY_ALL_ACCESS, nullptr, &h, nullptr);
    if (rc == ERROR_SUCCESS) *key = reinterpret_cast<Key>(h);
    return static_cast<WinError>(rc);
  }
  WinError OpenKey(const std::string& path, bool writable, Key* key) override {
    HKEY h = nullptr;
    const LONG rc =
        RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, writable ? KEY_ALL_ACCESS : KEY_READ, &h);
    if (rc == ERROR_SUCCESS) *key = reinterpret_cast<Key>(h);
    return static_cast<WinError>(rc);
  }
  void CloseKey(Key key) override { CloseRegKey(AsHkey(key)); }
  WinError EnumValueName(Key key, std::uint32_t index, std::string* name) override {
    char buffer[16384];  // the longest value name the registry allows, plus the terminator
    DWORD length = sizeof(buffer);
    const LONG rc =
        RegEnumValueA(AsHkey(key), index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_SUCCESS) name->assign(buffer, length);
    return static_cast<WinError>(rc);
  }
  WinError EnumSubKeyName(Key key, std::uint32_t index, std::string* name) override {
    char buffer[256];  // key names are at most 255 characters
    DWORD length = sizeof(buffer);
    const LONG rc =
        RegEnumKeyExA(AsHkey(key), index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_SUCCESS) name->assign(buffer, length);
    return static_cast<WinError>(rc);
  }
  WinError SetDwordValue(Key key, const std::string& name, std::uint32_t data) override {
    const DWORD value = data;
    return static_cast<WinError>(RegSetValueExA(AsHkey(key), name.c_str(), 0, REG_DWORD,
                                                reinterpret_cast<const BYTE*>(&value),
                                                sizeof(value)));
  }
  WinError DeleteValue(Key key, const std::string& name) override {
    return static_cast<WinError>(RegDeleteValueA(AsHkey(key), name.c_str()));
  }
  WinError DeleteSubKey(Key key, const std::string& subKey) override {
    return static_cast<WinError>(RegDeleteKeyA(AsHkey(key), subKey.c_str()));
  }
};

}  // namespace

RegistryPort& PlatformRegistry() {
  static Win32Registry registry;
  return registry;
}

}  // namespace kestrava
