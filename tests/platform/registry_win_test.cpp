#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include <vector>

#include "boost/record.h"
#include "common/registry_port.h"
#include "win32/unique_handle.h"

namespace kestrava {
namespace {

constexpr char kScratch[] = "Software\\Kestrava test scratch";

class Win32RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTree(kScratch); }
  void TearDown() override { RegDeleteTree(kScratch); }

  // Children first, each opened as itself: a link a test left behind goes as a link, and a key
  // that will not go ends the walk instead of looping on it.
  static void RegDeleteTree(const std::string& path) {
    RegistryPort& registry = PlatformRegistry();
    RegistryKey key(registry);
    if (key.Open(path, true) != err::kSuccess) return;
    std::vector<std::string> children;
    std::string child;
    for (std::uint32_t i = 0; registry.EnumSubKeyName(key.Get(), i, &child) == err::kSuccess; ++i) {
      children.push_back(child);
    }
    for (const std::string& name : children) RegDeleteTree(path + "\\" + name);
    registry.DeleteKey(key.Get());
  }

  RegistryPort& registry_ = PlatformRegistry();
};

TEST_F(Win32RegistryTest, VolatileKeysRefuseNonVolatileChildren) {
  RegistryKey key(registry_);
  ASSERT_EQ(key.Create(std::string(kScratch) + "\\volatile", true), err::kSuccess);
  RegistryKey child(registry_);
  EXPECT_EQ(child.Create(std::string(kScratch) + "\\volatile\\child", false),
            err::kChildMustBeVolatile);
  EXPECT_EQ(child.Create(std::string(kScratch) + "\\volatile\\child", true), err::kSuccess);
}

TEST_F(Win32RegistryTest, ValuesAndSubkeysEnumerateUntilNoMoreItems) {
  RegistryKey key(registry_);
  ASSERT_EQ(key.Create(kScratch, true), err::kSuccess);
  EXPECT_EQ(registry_.SetDwordValue(key.Get(), "Spooler", 1), err::kSuccess);
  EXPECT_EQ(registry_.SetDwordValue(key.Get(), "wuauserv", 1), err::kSuccess);
  std::string name;
  EXPECT_EQ(registry_.EnumValueName(key.Get(), 0, &name), err::kSuccess);
  EXPECT_EQ(registry_.EnumValueName(key.Get(), 1, &name), err::kSuccess);
  EXPECT_EQ(registry_.EnumValueName(key.Get(), 2, &name), err::kNoMoreItems);
  EXPECT_EQ(registry_.EnumSubKeyName(key.Get(), 0, &name), err::kNoMoreItems);
  EXPECT_EQ(registry_.DeleteValue(key.Get(), "Spooler"), err::kSuccess);
  EXPECT_EQ(registry_.DeleteValue(key.Get(), "Spooler"), err::kFileNotFound);

  DWORD type = 0, data = 0, length = sizeof(data);
  EXPECT_EQ(RegQueryValueExA(reinterpret_cast<HKEY>(key.Get()), "wuauserv", nullptr, &type,
                             reinterpret_cast<BYTE*>(&data), &length),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(data, 1u);
}

TEST_F(Win32RegistryTest, AKeyWithSubkeysIsNotDeletedDirectly) {
  RegistryKey key(registry_);
  ASSERT_EQ(key.Create(std::string(kScratch) + "\\a\\b", true), err::kSuccess);
  key.Close();
  RegistryKey parent(registry_);
  ASSERT_EQ(parent.Open(kScratch, true), err::kSuccess);
  RegistryKey a(registry_);
  ASSERT_EQ(a.OpenSub(parent.Get(), "a", true), err::kSuccess);
  EXPECT_NE(registry_.DeleteKey(a.Get()), err::kSuccess);
  RegistryKey b(registry_);
  ASSERT_EQ(b.OpenSub(a.Get(), "b", true), err::kSuccess);
  EXPECT_EQ(registry_.DeleteKey(b.Get()), err::kSuccess);
  EXPECT_EQ(registry_.DeleteKey(a.Get()), err::kSuccess);
  RegistryKey gone(registry_);
  EXPECT_EQ(gone.OpenSub(parent.Get(), "a", false), err::kFileNotFound);
}

// A registry link as any program of the user can make one: path's SymbolicLinkValue names target
// as the kernel does, \Registry\User\<SID>\target.
void MakeLink(const std::string& path, const std::string& target) {
  UniqueKernelHandle token;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put()));
  BYTE user[256];
  DWORD length = 0;
  ASSERT_TRUE(GetTokenInformation(token.Get(), TokenUser, user, sizeof(user), &length));
  char* sid = nullptr;
  ASSERT_TRUE(ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &sid));
  const UniqueLocalMemory ownedSid(static_cast<HLOCAL>(sid));
  const std::string full = std::string("\\Registry\\User\\") + sid + "\\" + target;
  const std::wstring wide(full.begin(), full.end());
  UniqueRegKey link;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr,
                            REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                            link.Put(), nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(link.Get(), L"SymbolicLinkValue", 0, REG_LINK,
                           reinterpret_cast<const BYTE*>(wide.data()),
                           static_cast<DWORD>(wide.size() * sizeof(wchar_t))),
            ERROR_SUCCESS);
}

// The opens stop at a link, the link's only value is its target, and deleting it leaves the
// target as it was; the create, as Windows documents, goes through.
TEST_F(Win32RegistryTest, ALinkIsOpenedAndDeletedAsALink) {
  const std::string target = std::string(kScratch) + "\\target";
  const std::string linkPath = std::string(kScratch) + "\\link";
  RegistryKey key(registry_);
  ASSERT_EQ(key.Create(target, false), err::kSuccess);
  ASSERT_EQ(registry_.SetDwordValue(key.Get(), "Spooler", 1), err::kSuccess);
  key.Close();
  ASSERT_NO_FATAL_FAILURE(MakeLink(linkPath, target));

  RegistryKey link(registry_);
  ASSERT_EQ(link.Open(linkPath, true), err::kSuccess);
  bool isLink = false;
  EXPECT_EQ(registry_.IsLink(link.Get(), &isLink), err::kSuccess);
  EXPECT_TRUE(isLink);
  std::string name;
  EXPECT_EQ(registry_.EnumValueName(link.Get(), 0, &name), err::kSuccess);
  EXPECT_EQ(name, "SymbolicLinkValue");
  RegistryKey followed(registry_);
  ASSERT_EQ(followed.Create(linkPath, false), err::kSuccess);
  EXPECT_EQ(registry_.EnumValueName(followed.Get(), 0, &name), err::kSuccess);
  EXPECT_EQ(name, "Spooler");
  EXPECT_EQ(registry_.IsLink(followed.Get(), &isLink), err::kSuccess);
  EXPECT_FALSE(isLink);
  followed.Close();

  EXPECT_EQ(registry_.DeleteKey(link.Get()), err::kSuccess);
  link.Close();
  EXPECT_EQ(link.Open(linkPath, false), err::kFileNotFound);
  ASSERT_EQ(key.Open(target, false), err::kSuccess);
  EXPECT_EQ(registry_.EnumValueName(key.Get(), 0, &name), err::kSuccess);
  EXPECT_EQ(name, "Spooler");
}

TEST_F(Win32RegistryTest, VolatilityIsToldWithoutLeavingAProbe) {
  for (const bool isVolatile :
       {false, true}) {  // the normal one first: it makes the scratch key normal
    SCOPED_TRACE(isVolatile ? "volatile" : "normal");
    const std::string path = std::string(kScratch) + (isVolatile ? "\\volatile" : "\\normal");
    RegistryKey key(registry_);
    ASSERT_EQ(key.Create(path, isVolatile), err::kSuccess);
    bool answer = !isVolatile;
    EXPECT_EQ(registry_.IsVolatile(key.Get(), &answer), err::kSuccess);
    EXPECT_EQ(answer, isVolatile);
    std::string child;
    EXPECT_EQ(registry_.EnumSubKeyName(key.Get(), 0, &child), err::kNoMoreItems);
    std::uint32_t count = 99;
    EXPECT_EQ(registry_.SetDwordValue(key.Get(), "Spooler", 1), err::kSuccess);
    EXPECT_EQ(registry_.CountValues(key.Get(), &count), err::kSuccess);
    EXPECT_EQ(count, 1u);
  }
}

// The program's own key, read back as Windows stores it: owner Administrators, a protected DACL of
// exactly SYSTEM and Administrators with full control and the user with read, and where Windows
// has integrity levels a High label with no-write-up. A second make of the same name is refused.
TEST_F(Win32RegistryTest, AnOwnKeyCarriesTheProgramsDescriptor) {
  RegistryKey parent(registry_);
  ASSERT_EQ(parent.Create(kScratch, true), err::kSuccess);
  RegistryKey own(registry_);
  ASSERT_EQ(registry_.CreateOwnKey(parent.Get(), "own", own.Put()), err::kSuccess);
  RegistryKey again(registry_);
  EXPECT_EQ(registry_.CreateOwnKey(parent.Get(), "own", again.Put()), err::kAlreadyExists);
  EXPECT_EQ(again.Get(), 0u);
  bool isVolatile = false;
  EXPECT_EQ(registry_.IsVolatile(own.Get(), &isVolatile), err::kSuccess);
  EXPECT_TRUE(isVolatile);

  const bool labels = registry_.HasIntegrityLevels();
  EXPECT_EQ(labels, LOBYTE(LOWORD(GetVersion())) >= 6);
  std::vector<BYTE> buffer(4096);
  DWORD length = static_cast<DWORD>(buffer.size());
  ASSERT_EQ(RegGetKeySecurity(reinterpret_cast<HKEY>(own.Get()),
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                  (labels ? LABEL_SECURITY_INFORMATION : 0),
                              buffer.data(), &length),
            ERROR_SUCCESS);
  char* text = nullptr;
  ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(
      buffer.data(), SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text,
      nullptr));
  const UniqueLocalMemory ownedText(static_cast<HLOCAL>(text));
  UniqueKernelHandle token;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put()));
  BYTE user[256];
  ASSERT_TRUE(GetTokenInformation(token.Get(), TokenUser, user, sizeof(user), &length));
  char* sid = nullptr;
  ASSERT_TRUE(ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &sid));
  const UniqueLocalMemory ownedSid(static_cast<HLOCAL>(sid));
  EXPECT_EQ(std::string(text), "O:BAD:P(A;;KA;;;SY)(A;;KA;;;BA)(A;;KR;;;" + std::string(sid) + ")");

  BOOL present = FALSE, defaulted = FALSE;
  PACL sacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorSacl(buffer.data(), &present, &sacl, &defaulted));
  if (labels) {
    ASSERT_TRUE(present && sacl != nullptr);
    ASSERT_EQ(sacl->AceCount, 1u);
    void* ace = nullptr;
    ASSERT_TRUE(GetAce(sacl, 0, &ace));
    const auto* label = static_cast<const SYSTEM_MANDATORY_LABEL_ACE*>(ace);
    EXPECT_EQ(label->Header.AceType, SYSTEM_MANDATORY_LABEL_ACE_TYPE);
    EXPECT_EQ(label->Mask, static_cast<DWORD>(SYSTEM_MANDATORY_LABEL_NO_WRITE_UP));
    char* labelSid = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidA(const_cast<DWORD*>(&label->SidStart), &labelSid));
    const UniqueLocalMemory ownedLabel(static_cast<HLOCAL>(labelSid));
    EXPECT_STREQ(labelSid, "S-1-16-12288");
  }

  // The port reads the same back, and tells a key of the user's from it.
  RegistryPort::KeySecurity security;
  EXPECT_EQ(registry_.QueryKeySecurity(own.Get(), &security), err::kSuccess);
  EXPECT_TRUE(security.ownedByAdministrators);
  EXPECT_EQ(security.labelledHighNoWriteUp, labels);
  RegistryKey plain(registry_);
  ASSERT_EQ(plain.Create(std::string(kScratch) + "\\plain", true), err::kSuccess);
  EXPECT_EQ(registry_.QueryKeySecurity(plain.Get(), &security), err::kSuccess);
  EXPECT_FALSE(security.labelledHighNoWriteUp);
}

// A record key made before the program (a normal key, so it would outlive the log-off) and a record
// key that is a link: the first write makes the program's own volatile key, the link's target is
// never written or deleted.
TEST_F(Win32RegistryTest, TheFirstWriteMakesTheRecordTheProgramsOwn) {
  RegistryPort& registry = PlatformRegistry();
  const std::string target = std::string(kScratch) + "\\Victim";
  for (const bool link : {false, true}) {
    SCOPED_TRACE(link ? "a link" : "a normal key");
    ASSERT_EQ(ClearBoostedServices(registry), err::kSuccess);
    RegistryKey victim(registry);
    ASSERT_EQ(victim.Create(target, false), err::kSuccess);
    ASSERT_EQ(registry.SetDwordValue(victim.Get(), "Spooler", 1), err::kSuccess);
    victim.Close();
    if (link) {
      ASSERT_NO_FATAL_FAILURE(MakeLink(BoostRecordPath(), target));
    } else {
      RegistryKey planted(registry);
      ASSERT_EQ(planted.Create(BoostRecordPath(), false), err::kSuccess);
      ASSERT_EQ(registry.SetDwordValue(planted.Get(), "Spooler", 1), err::kSuccess);
    }
    EXPECT_EQ(SetBoostedService(registry, "StiSvc", false), err::kSuccess);
    std::vector<std::string> names;
    EXPECT_EQ(ReadBoostedServices(registry, names), err::kSuccess);
    const std::vector<std::string> expected =
        link ? std::vector<std::string>{"StiSvc"} : std::vector<std::string>{"Spooler", "StiSvc"};
    EXPECT_EQ(names, expected);
    RegistryKey record(registry);
    ASSERT_EQ(record.Open(BoostRecordPath(), true), err::kSuccess);
    bool flag = true;
    EXPECT_EQ(registry.IsLink(record.Get(), &flag), err::kSuccess);
    EXPECT_FALSE(flag);
    EXPECT_EQ(registry.IsVolatile(record.Get(), &flag), err::kSuccess);
    EXPECT_TRUE(flag);
    record.Close();
    EXPECT_EQ(ClearBoostedServices(registry), err::kSuccess);
    ASSERT_EQ(victim.Open(target, false), err::kSuccess);
    std::uint32_t count = 0;
    EXPECT_EQ(registry.CountValues(victim.Get(), &count), err::kSuccess);
    EXPECT_EQ(count, 1u);
  }
}

TEST(Win32BoostRecord, RoundTripsThroughTheRealRegistry) {
  RegistryPort& registry = PlatformRegistry();
  ClearBoostedServices(registry);
  SetBoostedService(registry, "Spooler", false);
  SetBoostedService(registry, "StiSvc", false);
  std::vector<std::string> names;
  ReadBoostedServices(registry, names);
  // Wine enumerates values sorted by name, Windows in the order written; both give these two here.
  EXPECT_EQ(names, (std::vector<std::string>{"Spooler", "StiSvc"}));

  SetBoostedService(registry, "Spooler", true);
  ReadBoostedServices(registry, names);
  EXPECT_EQ(names, (std::vector<std::string>{"StiSvc"}));

  ClearBoostedServices(registry);
  ReadBoostedServices(registry, names);
  EXPECT_TRUE(names.empty());
  UniqueRegKey parent;
  EXPECT_EQ(
      RegOpenKeyExA(HKEY_CURRENT_USER, BoostRecordParentPath().c_str(), 0, KEY_READ, parent.Put()),
      ERROR_SUCCESS);
}

}  // namespace
}  // namespace kestrava
