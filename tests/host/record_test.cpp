#include <gtest/gtest.h>

#include "boost/record.h"
#include "tests/doubles/fake_registry.h"

namespace kestrava {
namespace {

using testing::FakeRegistry;
using Names = std::vector<std::string>;

Names Read(FakeRegistry& registry) {
  Names names{"left over"};
  EXPECT_TRUE(ReadBoostedServices(registry, names));
  return names;
}

TEST(BoostRecord, LivesUnderTheProductKeyOfTheCurrentUser) {
  EXPECT_EQ(BoostRecordPath(), "Software\\Kestrava\\Tarnwell Kestrava FREE\\BoostedService");
}

TEST(BoostRecord, MissingRecordReadsAsEmptyAndClearingItCreatesNothing) {
  FakeRegistry registry;
  EXPECT_TRUE(Read(registry).empty());
  EXPECT_TRUE(ClearBoostedServices(registry));
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
  SetBoostedService(registry, "SPOOLER", true);
  SetBoostedService(registry, "NoSuchService", true);
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
  EXPECT_TRUE(ClearBoostedServices(registry));
  EXPECT_EQ(registry.Find(BoostRecordPath()), nullptr);
  EXPECT_NE(registry.Find(BoostRecordParentPath()), nullptr);
  EXPECT_TRUE(Read(registry).empty());
  EXPECT_EQ(registry.OpenKeyCount(), 0u);
}

TEST(BoostRecord, AnUnwritableRegistryLeavesTheRecordAsItWas) {
  FakeRegistry registry;
  SetBoostedService(registry, "Spooler", false);
  registry.failCreateWith = err::kAccessDenied;
  SetBoostedService(registry, "wuauserv", false);
  SetBoostedService(registry, "Spooler", true);
  EXPECT_EQ(Read(registry), (Names{"Spooler"}));
}

}  // namespace
}  // namespace kestrava
