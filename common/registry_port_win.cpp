#include <windows.h>

#include <sddl.h>

#include <string>
#include <vector>

#include "common/registry_port.h"
#include "win32/dynamic_calls_win.h"
#include "win32/last_error.h"
#include "win32/unique_handle.h"

namespace kestrava {
namespace {

HKEY AsHkey(RegistryPort::Key key) {
  return key == RegistryPort::kCurrentUser ? HKEY_CURRENT_USER : reinterpret_cast<HKEY>(key);
}

constexpr char kAdministratorsSid[] = "S-1-5-32-544";
constexpr char kHighLabelSid[] = "S-1-16-12288";

bool HasLabels() { return LOBYTE(LOWORD(GetVersion())) >= 6; }

// The SID in its S-1-... form; empty when it cannot be converted.
std::string SidText(PSID sid) {
  char* text = nullptr;
  if (!ConvertSidToStringSidA(sid, &text)) return {};
  const UniqueLocalMemory owned(static_cast<HLOCAL>(text));
  return text;
}

// The descriptor of the program's own keys in SDDL: owner Administrators, a protected DACL
// (SYSTEM and Administrators full control, the user read) and, where Windows has integrity levels,
// a High label with no-write-up, so that no program of the user at Medium may change the key even
// through an access the DACL grants. XP knows no labels, and its SDDL parser refuses one.
WinError OwnKeyDescriptor(UniqueLocalMemory* descriptor) {
  UniqueKernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put())) return FailureCode();
  std::vector<BYTE> user(256);
  DWORD length = 0;
  while (!GetTokenInformation(token.Get(), TokenUser, user.data(), static_cast<DWORD>(user.size()),
                              &length)) {
    const WinError code = FailureCode();
    if (code != ERROR_INSUFFICIENT_BUFFER || length <= user.size()) return code;
    user.resize(length);
  }
  const std::string userSid = SidText(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid);
  if (userSid.empty()) return FailureCode();
  std::string sddl = "O:BAD:P(A;;KA;;;SY)(A;;KA;;;BA)(A;;KR;;;" + userSid + ")";
  if (HasLabels()) sddl += "S:(ML;;NW;;;HI)";
  PSECURITY_DESCRIPTOR made = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &made,
                                                            nullptr)) {
    return FailureCode();
  }
  descriptor->Reset(static_cast<HLOCAL>(made));
  return ERROR_SUCCESS;
}

WinError DeleteOpenKey(HKEY key) {
  const DynamicCalls& calls = SystemCalls();
  if (calls.ntDeleteKey == nullptr || calls.rtlNtStatusToDosError == nullptr) {
    return ERROR_INVALID_FUNCTION;
  }
  const LONG status = calls.ntDeleteKey(key);
  return status == 0 ? ERROR_SUCCESS : calls.rtlNtStatusToDosError(status);
}

class Win32Registry final : public RegistryPort {
 public:
  WinError CreateKey(const std::string& path, bool isVolatile, Key* key) override {
    return CreateSubKey(kCurrentUser, path, isVolatile, key);
  }
  WinError OpenKey(const std::string& path, bool writable, Key* key) override {
    return OpenSubKey(kCurrentUser, path, writable, key);
  }
  WinError OpenSubKey(Key parent, const std::string& name, bool writable, Key* key) override {
    HKEY h = nullptr;
    const LONG rc = RegOpenKeyExA(AsHkey(parent), name.c_str(), REG_OPTION_OPEN_LINK,
                                  writable ? KEY_ALL_ACCESS : KEY_READ, &h);
    if (rc == ERROR_SUCCESS) *key = reinterpret_cast<Key>(h);
    return static_cast<WinError>(rc);
  }
  WinError CreateSubKey(Key parent, const std::string& name, bool isVolatile, Key* key) override {
    HKEY h = nullptr;
    const LONG rc = RegCreateKeyExA(AsHkey(parent), name.c_str(), 0, nullptr,
                                    isVolatile ? REG_OPTION_VOLATILE : REG_OPTION_NON_VOLATILE,
                                    KEY_ALL_ACCESS, nullptr, &h, nullptr);
    if (rc == ERROR_SUCCESS) *key = reinterpret_cast<Key>(h);
    return static_cast<WinError>(rc);
  }
  WinError CreateOwnKey(Key parent, const std::string& name, Key* key) override {
    UniqueLocalMemory descriptor;
    const WinError made = OwnKeyDescriptor(&descriptor);
    if (made != ERROR_SUCCESS) return made;
    // Made with its descriptor, so that there is no moment in which the user's programs could
    // open it with the access the parent would hand down.
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.Get(), FALSE};
    UniqueRegKey h;
    DWORD disposition = 0;
    const LONG rc = RegCreateKeyExA(AsHkey(parent), name.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                    KEY_ALL_ACCESS, &attributes, h.Put(), &disposition);
    if (rc != ERROR_SUCCESS) return static_cast<WinError>(rc);
    // A key that was there (or a link, which the create followed) is not made by this call.
    if (disposition != REG_CREATED_NEW_KEY) return ERROR_ALREADY_EXISTS;
    // Set once more: a registry that took no descriptor at the create (Wine) gets it now.
    SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                 PROTECTED_DACL_SECURITY_INFORMATION;
    if (HasLabels()) parts |= LABEL_SECURITY_INFORMATION;
    const LONG secured = RegSetKeySecurity(h.Get(), parts, descriptor.Get());
    if (secured != ERROR_SUCCESS) {
      DeleteOpenKey(h.Get());  // a key that is not the program's own must not stay as if it were
      return static_cast<WinError>(secured);
    }
    *key = reinterpret_cast<Key>(h.Release());
    return ERROR_SUCCESS;
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
  WinError CountValues(Key key, std::uint32_t* count) override {
    DWORD values = 0;
    const LONG rc = RegQueryInfoKeyA(AsHkey(key), nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, &values, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_SUCCESS) *count = values;
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
  WinError DeleteKey(Key key) override { return DeleteOpenKey(AsHkey(key)); }
  WinError IsLink(Key key, bool* isLink) override {
    DWORD type = REG_NONE;
    const LONG rc =
        RegQueryValueExA(AsHkey(key), "SymbolicLinkValue", nullptr, &type, nullptr, nullptr);
    if (rc == ERROR_FILE_NOT_FOUND) {
      *isLink = false;
      return ERROR_SUCCESS;
    }
    if (rc == ERROR_SUCCESS) *isLink = type == REG_LINK;
    return static_cast<WinError>(rc);
  }
  WinError IsVolatile(Key key, bool* isVolatile) override {
    UniqueRegKey probe;
    DWORD disposition = 0;
    const LONG rc = RegCreateKeyExA(AsHkey(key), "Kestrava volatility probe", 0, nullptr,
                                    REG_OPTION_NON_VOLATILE, KEY_READ | DELETE, nullptr,
                                    probe.Put(), &disposition);
    if (rc == ERROR_CHILD_MUST_BE_VOLATILE) {
      *isVolatile = true;
      return ERROR_SUCCESS;
    }
    if (rc != ERROR_SUCCESS) return static_cast<WinError>(rc);
    // Accepted: the key is not volatile. A subkey of that name that was there already proves
    // nothing either way and stays; the caller then takes the key for a normal one.
    if (disposition == REG_CREATED_NEW_KEY) {
      const WinError deleted = DeleteOpenKey(probe.Get());
      if (deleted != ERROR_SUCCESS) return deleted;
    }
    *isVolatile = false;
    return ERROR_SUCCESS;
  }
  WinError QueryKeySecurity(Key key, KeySecurity* security) override {
    const bool labels = HasLabels();
    const SECURITY_INFORMATION parts =
        OWNER_SECURITY_INFORMATION | (labels ? LABEL_SECURITY_INFORMATION : 0);
    std::vector<BYTE> buffer(512);
    DWORD length = static_cast<DWORD>(buffer.size());
    LONG rc;
    while ((rc = RegGetKeySecurity(AsHkey(key), parts, buffer.data(), &length)) ==
           ERROR_INSUFFICIENT_BUFFER) {
      if (length <= buffer.size()) break;
      buffer.resize(length);
    }
    if (rc != ERROR_SUCCESS) return static_cast<WinError>(rc);
    KeySecurity found;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (GetSecurityDescriptorOwner(buffer.data(), &owner, &defaulted) && owner != nullptr) {
      found.ownedByAdministrators = SidText(owner) == kAdministratorsSid;
    }
    BOOL present = FALSE;
    PACL sacl = nullptr;
    if (labels && GetSecurityDescriptorSacl(buffer.data(), &present, &sacl, &defaulted) &&
        present && sacl != nullptr) {
      for (DWORD i = 0; i < sacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(sacl, i, &ace)) break;
        const auto* label = static_cast<const SYSTEM_MANDATORY_LABEL_ACE*>(ace);
        if (label->Header.AceType != SYSTEM_MANDATORY_LABEL_ACE_TYPE) continue;
        found.labelledHighNoWriteUp =
            (label->Mask & SYSTEM_MANDATORY_LABEL_NO_WRITE_UP) != 0 &&
            SidText(const_cast<DWORD*>(&label->SidStart)) == kHighLabelSid;
        break;  // a descriptor holds one label
      }
    }
    *security = found;
    return ERROR_SUCCESS;
  }
  bool HasIntegrityLevels() override { return HasLabels(); }
};

}  // namespace

RegistryPort& PlatformRegistry() {
  static Win32Registry registry;
  return registry;
}

}  // namespace kestrava
