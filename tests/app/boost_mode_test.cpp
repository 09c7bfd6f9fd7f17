#include "app/boost_mode.h"

#include <gtest/gtest.h>

#include <new>
#include <string>

#include "boost/record.h"
#include "tests/doubles/fake_registry.h"

namespace kestrava {
namespace {

using testing::FakeRegistry;

TEST(BoostMode, OnExactlyWhileTheRecordHoldsAName) {
  FakeRegistry registry;
  EXPECT_FALSE(ReadBoostMode(registry));  // no record at all

  {
    RegistryKey emptyRecord(registry);
    ASSERT_EQ(emptyRecord.Create(BoostRecordPath(), true), err::kSuccess);
  }
  EXPECT_FALSE(ReadBoostMode(registry));  // a record without names

  SetBoostedService(registry, "Spooler", false);
  EXPECT_TRUE(ReadBoostMode(registry));

  SetBoostedService(registry, "Spooler", true);
  EXPECT_FALSE(ReadBoostMode(registry));

  SetBoostedService(registry, "wuauserv", false);
  SetBoostedService(registry, "BITS", false);
  registry.failEnumWith = err::kMoreData;  // one value that cannot be read: the other still shows
  registry.failEnumTo = 1;
  EXPECT_TRUE(ReadBoostMode(registry));
  registry.failEnumWith = err::kSuccess;

  registry.LogOff();  // the record is volatile
  EXPECT_FALSE(ReadBoostMode(registry));
}

// A registry whose every call fails the way an out-of-memory would.
class ThrowingRegistry final : public RegistryPort {
 public:
  WinError CreateKey(const std::string&, bool, Key*) override { throw std::bad_alloc(); }
  WinError OpenKey(const std::string&, bool, Key*) override { throw std::bad_alloc(); }
  void CloseKey(Key) override {}
  WinError EnumValueName(Key, std::uint32_t, std::string*) override { throw std::bad_alloc(); }
  WinError EnumSubKeyName(Key, std::uint32_t, std::string*) override { throw std::bad_alloc(); }
  WinError SetDwordValue(Key, const std::string&, std::uint32_t) override { throw std::bad_alloc(); }
  WinError DeleteValue(Key, const std::string&) override { throw std::bad_alloc(); }
  WinError DeleteSubKey(Key, const std::string&) override { throw std::bad_alloc(); }
};

TEST(BoostMode, RecordThatCannotBeReadCountsAsOff) {
  ThrowingRegistry registry;
  EXPECT_FALSE(ReadBoostMode(registry));
}

}  // namespace
}  // namespace kestrava
