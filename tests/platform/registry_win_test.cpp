#include <windows.h>

#include <gtest/gtest.h>

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

  static void RegDeleteTree(const std::string& path) {
    UniqueRegKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, key.Put()) != ERROR_SUCCESS) {
      return;
    }
    char name[256];
    while (true) {
      DWORD length = sizeof(name);
      if (RegEnumKeyExA(key.Get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        break;
      }
      RegDeleteTree(path + "\\" + name);
    }
    key.Reset();
    RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str());
  }

  RegistryPort& registry_ = PlatformRegistry();
};

TEST_F(Win32RegistryTest, VolatileKeysRefuseNonVolatileChildren) {
  RegistryKey key(registry_);
  ASSERT_EQ(key.Create(std::string(kScratch) + "\\volatile", true), err::kSuccess);
  RegistryKey child(registry_);
  EXPECT_EQ(child.Create(std::string(kScratch) + "\\volatile\\child", false), err::kChildMustBeVolatile);
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
  EXPECT_NE(registry_.DeleteSubKey(parent.Get(), "a"), err::kSuccess);
  RegistryKey a(registry_);
  ASSERT_EQ(a.Open(std::string(kScratch) + "\\a", true), err::kSuccess);
  EXPECT_EQ(registry_.DeleteSubKey(a.Get(), "b"), err::kSuccess);
  EXPECT_EQ(registry_.DeleteSubKey(parent.Get(), "a"), err::kSuccess);
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
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, BoostRecordParentPath().c_str(), 0, KEY_READ, parent.Put()),
            ERROR_SUCCESS);
}

}  // namespace
}  // namespace kestrava
