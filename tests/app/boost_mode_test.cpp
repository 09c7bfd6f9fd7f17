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

// The window reads the record as the restore does: a link there is no record (and its target,
// which may hold anything, is not read), and a record of more values than a read takes still
// shows the mode on.
TEST(BoostMode, ALinkIsNoRecordAndAnOverfullRecordIsOn) {
  FakeRegistry registry;
  {
    RegistryKey target(registry);
    ASSERT_EQ(target.Create("Software\\Policies\\Victim", false), err::kSuccess);
    ASSERT_EQ(registry.SetDwordValue(target.Get(), "Spooler", 1), err::kSuccess);
  }
  registry.MakeLink(BoostRecordPath(), "Software\\Policies\\Victim");
  registry.ForgetTouches();
  EXPECT_FALSE(ReadBoostMode(registry));
  EXPECT_FALSE(registry.Touched("Software\\Policies\\Victim"));

  FakeRegistry overfull;
  RegistryKey record(overfull);
  ASSERT_EQ(record.Create(BoostRecordPath(), true), err::kSuccess);
  for (int i = 0; i < 300; ++i) overfull.SetDwordValue(record.Get(), "svc" + std::to_string(i), 1);
  EXPECT_TRUE(ReadBoostMode(overfull));
}

// A registry whose every call fails the way an out-of-memory would.
class ThrowingRegistry final : public RegistryPort {
 public:
  WinError CreateKey(const std::string&, bool, Key*) override { throw std::bad_alloc(); }
  WinError OpenKey(const std::string&, bool, Key*) override { throw std::bad_alloc(); }
  void CloseKey(Key) override {}
  WinError EnumValueName(Key, std::uint32_t, std::string*) override { throw std::bad_alloc(); }
  WinError EnumSubKeyName(Key, std::uint32_t, std::string*) override { throw std::bad_alloc(); }
  WinError SetDwordValue(Key, const std::string&, std::uint32_t) override {
    throw std::bad_alloc();
  }
  WinError DeleteValue(Key, const std::string&) override { throw std::bad_alloc(); }
  WinError OpenSubKey(Key, const std::string&, bool, Key*) override { throw std::bad_alloc(); }
  WinError CreateSubKey(Key, const std::string&, bool, Key*) override { throw std::bad_alloc(); }
  WinError CreateOwnKey(Key, const std::string&, Key*) override { throw std::bad_alloc(); }
  WinError CountValues(Key, std::uint32_t*) override { throw std::bad_alloc(); }
  WinError DeleteKey(Key) override { throw std::bad_alloc(); }
  WinError IsLink(Key, bool*) override { throw std::bad_alloc(); }
  WinError IsVolatile(Key, bool*) override { throw std::bad_alloc(); }
  WinError QueryKeySecurity(Key, KeySecurity*) override { throw std::bad_alloc(); }
  bool HasIntegrityLevels() override { throw std::bad_alloc(); }
};

TEST(BoostMode, RecordThatCannotBeReadCountsAsOff) {
  ThrowingRegistry registry;
  EXPECT_FALSE(ReadBoostMode(registry));
}

}  // namespace
}  // namespace kestrava
