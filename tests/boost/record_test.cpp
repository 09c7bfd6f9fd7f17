#include <gtest/gtest.h>

#include "boost/record.h"
#include "tests/doubles/fake_registry.h"

namespace kestrava {
namespace {

using testing::FakeRegistry;
using Names = std::vector<std::string>;

Names Read(FakeRegistry& registry) {
  Names names{"left over"};
  EXPECT_EQ(ReadBoostedServices(registry, names), err::kSuccess);
  return names;
}

TEST(BoostRecord, LivesUnderTheProductKeyOfTheCurrentUser) {
  EXPECT_EQ(BoostRecordPath(), "Software\\Kestrava\\Tarnwell Kestrava FREE\\BoostedService");
}

TEST(BoostRecord, MissingRecordReadsAsEmptyAndClearingItCreatesNothing) {
  FakeRegistry registry;
  EXPECT_TRUE(Read(registry).empty());
  EXPECT_EQ(ClearBoostedServices(registry), err::kSuccess);
  EXPECT_EQ(registry.Find("Software\\Kestrava"), nullptr);
  EXPECT_EQ(registry.OpenKeyCount(), 0u);
}

TEST(BoostRecord, NamesComeBackInTheOrderWrittenAndOnceEach) {
  FakeRegistry registry;
  SetBoostedService(registry, "Spooler", false);
  SetBoostedService(registry, "wuauserv", false);
  SetBoostedService(registry, "Spooler", false);  // overwritten, not added twice
  SetBoostedService(registry, "Schedule", false);
  EXPECT_EQ(Read(registry), (Names{"Spooler", "wuauserv", "Schedule"}));
  EXPECT_EQ(registry.Find(BoostRecordPath())->values[0].second, 1u);
  EXPECT_EQ(registry.OpenKeyCount(), 0u);
}

TEST(BoostRecord, RemovingANameKeepsTheOthersAndAMissingNameIsNoError) {
  FakeRegistry registry;
  SetBoostedService(registry, "Spooler", false);
  SetBoostedService(registry, "wuauserv", false);
  EXPECT_EQ(SetBoostedService(registry, "SPOOLER", true), err::kSuccess);
  EXPECT_EQ(SetBoostedService(registry, "NoSuchService", true), err::kSuccess);
  EXPECT_EQ(Read(registry), (Names{"wuauserv"}));
}

TEST(BoostRecord, RecordAndTheParentsItCreatesAreVolatileAndGoneAfterLogOff) {
  FakeRegistry registry;
  SetBoostedService(registry, "Spooler", false);
  EXPECT_TRUE(registry.Find("Software\\Kestrava")->isVolatile);
  EXPECT_TRUE(registry.Find(BoostRecordPath())->isVolatile);
  registry.LogOff();
  EXPECT_TRUE(Read(registry).empty());
}

TEST(BoostRecord, VolatileRecordUnderExistingPersistentParents) {
  FakeRegistry registry;
  RegistryPort::Key key = 0;
  ASSERT_EQ(registry.CreateKey("Software\\Kestrava\\Tarnwell Kestrava FREE", false, &key), 0u);
  registry.CloseKey(key);
  SetBoostedService(registry, "Spooler", false);
  registry.LogOff();
  EXPECT_TRUE(Read(registry).empty());
  EXPECT_NE(registry.Find("Software\\Kestrava\\Tarnwell Kestrava FREE"), nullptr);
}

TEST(BoostRecord, ClearDeletesTheRecordWithItsSubkeysAndKeepsTheParent) {
  FakeRegistry registry;
  SetBoostedService(registry, "Spooler", false);
  RegistryPort::Key key = 0;
  ASSERT_EQ(registry.CreateKey(BoostRecordPath() + "\\extra\\deeper", true, &key), 0u);
  registry.CloseKey(key);
  EXPECT_EQ(ClearBoostedServices(registry), err::kSuccess);
  EXPECT_EQ(registry.Find(BoostRecordPath()), nullptr);
  EXPECT_NE(registry.Find(BoostRecordParentPath()), nullptr);
  EXPECT_TRUE(Read(registry).empty());
  EXPECT_EQ(registry.OpenKeyCount(), 0u);
}

TEST(BoostRecord, AnUnwritableRegistryLeavesTheRecordAsItWas) {
  FakeRegistry registry;
  SetBoostedService(registry, "Spooler", false);
  registry.failCreateWith = err::kAccessDenied;
  EXPECT_EQ(SetBoostedService(registry, "wuauserv", false), err::kAccessDenied);
  EXPECT_EQ(SetBoostedService(registry, "Spooler", true), err::kAccessDenied);
  EXPECT_EQ(Read(registry), (Names{"Spooler"}));
}

// Every failing registry call is reported with its own code and the record stays as it was. A read
// keeps every name it could read (each one a service only the restore gives back) and passes over
// only the values it could not.
TEST(BoostRecord, AFailingRegistryCallIsReportedAndChangesNothing) {
  enum class Call { kRead, kRecord, kForget, kClear };
  struct Case {
    const char* what;
    void (*breakRegistry)(FakeRegistry&);
    Call call;
    WinError code;
    Names read = {};
  } cases[] = {
      {"the record cannot be opened", [](FakeRegistry& r) { r.failOpenWith = err::kAccessDenied; },
       Call::kRead, err::kAccessDenied},
      {"the enumeration breaks off after one name",
       [](FakeRegistry& r) {
         r.failEnumWith = err::kNotEnoughMemory;
         r.failEnumFrom = 1;
       },
       Call::kRead, err::kNotEnoughMemory, {"Spooler"}},
      {"the first value cannot be read",
       [](FakeRegistry& r) {
         r.failEnumWith = err::kMoreData;
         r.failEnumTo = 1;
       },
       Call::kRead, err::kMoreData, {"wuauserv"}},
      {"the record cannot be created", [](FakeRegistry& r) { r.failCreateWith = err::kAccessDenied; },
       Call::kRecord, err::kAccessDenied},
      {"the value cannot be written", [](FakeRegistry& r) { r.failWriteWith = err::kAccessDenied; },
       Call::kRecord, err::kAccessDenied},
      {"the value cannot be deleted", [](FakeRegistry& r) { r.failWriteWith = err::kAccessDenied; },
       Call::kForget, err::kAccessDenied},
      {"the parent cannot be opened", [](FakeRegistry& r) { r.failOpenWith = err::kAccessDenied; },
       Call::kClear, err::kAccessDenied},
      {"the subkeys cannot be listed", [](FakeRegistry& r) { r.failEnumWith = err::kKeyDeleted; },
       Call::kClear, err::kKeyDeleted},
      {"the record key cannot be deleted",
       [](FakeRegistry& r) { r.failWriteWith = err::kAccessDenied; }, Call::kClear,
       err::kAccessDenied},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeRegistry registry;
    ASSERT_EQ(SetBoostedService(registry, "Spooler", false), err::kSuccess);
    ASSERT_EQ(SetBoostedService(registry, "wuauserv", false), err::kSuccess);
    c.breakRegistry(registry);
    Names names{"left over"};
    switch (c.call) {
      case Call::kRead: EXPECT_EQ(ReadBoostedServices(registry, names), c.code); break;
      case Call::kRecord: EXPECT_EQ(SetBoostedService(registry, "Schedule", false), c.code); break;
      case Call::kForget: EXPECT_EQ(SetBoostedService(registry, "Spooler", true), c.code); break;
      case Call::kClear: EXPECT_EQ(ClearBoostedServices(registry), c.code); break;
    }
    if (c.call == Call::kRead) {
      EXPECT_EQ(names, c.read);
    }
    EXPECT_EQ(registry.OpenKeyCount(), 0u);

    registry.failCreateWith = registry.failOpenWith = registry.failEnumWith =
        registry.failWriteWith = err::kSuccess;
    EXPECT_EQ(Read(registry), (Names{"Spooler", "wuauserv"}));
  }
}

}  // namespace
}  // namespace kestrava
