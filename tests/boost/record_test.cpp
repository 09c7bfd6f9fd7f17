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
  registry.failCreateWith = err::kAccessDenied;
  EXPECT_EQ(SetBoostedService(registry, "wuauserv", false), err::kAccessDenied);
  EXPECT_EQ(registry.Find("Software\\Kestrava"), nullptr);
  registry.failCreateWith = err::kSuccess;
  SetBoostedService(registry, "Spooler", false);
  registry.failOpenWith = err::kAccessDenied;
  EXPECT_EQ(SetBoostedService(registry, "wuauserv", false), err::kAccessDenied);
  EXPECT_EQ(SetBoostedService(registry, "Spooler", true), err::kAccessDenied);
  registry.failOpenWith = err::kSuccess;
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
       Call::kRead,
       err::kNotEnoughMemory,
       {"Spooler"}},
      {"the first value cannot be read",
       [](FakeRegistry& r) {
         r.failEnumWith = err::kMoreData;
         r.failEnumTo = 1;
       },
       Call::kRead,
       err::kMoreData,
       {"wuauserv"}},
      {"the record cannot be inspected",
       [](FakeRegistry& r) { r.failInspectWith = err::kAccessDenied; }, Call::kRecord,
       err::kAccessDenied},
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
        registry.failWriteWith = registry.failInspectWith = err::kSuccess;
    EXPECT_EQ(Read(registry), (Names{"Spooler", "wuauserv"}));
  }
}

// The read takes at most kMaxRecordedNames values and names of at most kMaxRecordedNameLength
// characters, and says how many values of the record it did not return.
TEST(BoostRecord, TheReadIsBoundedAndCountsWhatItPassesOver) {
  struct Case {
    const char* what;
    std::vector<std::string> values;
    std::size_t names;  // how many come back, the first ones in order
    std::uint32_t passedOver;
  };
  const std::string longest(kMaxRecordedNameLength, 'a');
  const std::string tooLong(kMaxRecordedNameLength + 1, 'b');
  std::vector<std::string> many;
  for (int i = 0; i < 300; ++i) many.push_back("svc" + std::to_string(i));
  std::vector<std::string> exact(many.begin(), many.begin() + kMaxRecordedNames);
  const Case cases[] = {
      {"a few names", {"Spooler", "BITS"}, 2, 0},
      {"names as long as allowed, and one longer", {longest, tooLong, "BITS"}, 2, 1},
      {"exactly as many values as a read takes", exact, kMaxRecordedNames, 0},
      {"more values than a read takes", many, kMaxRecordedNames, 300 - kMaxRecordedNames},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeRegistry registry;
    {
      RegistryKey record(registry);
      ASSERT_EQ(record.Create(BoostRecordPath(), true), err::kSuccess);
      for (const std::string& v : c.values) registry.SetDwordValue(record.Get(), v, 1);
    }
    Names names{"left over"};
    std::uint32_t passedOver = 99;
    EXPECT_EQ(ReadBoostedServices(registry, names, &passedOver), err::kSuccess);
    Names expected;
    for (const std::string& v : c.values) {
      if (expected.size() < c.names && v.size() <= kMaxRecordedNameLength) expected.push_back(v);
    }
    EXPECT_EQ(names, expected);
    EXPECT_EQ(passedOver, c.passedOver);
  }
}

// Before a write the record key must be the program's own; any other key there is deleted (a
// link as a link) and made anew, volatile and with the program's owner and label, and the names
// of a key that is not a link are carried over. A key of the program's own is kept as it is (its
// marker subkey stays).
TEST(BoostRecord, AKeyThatIsNotTheProgramsOwnIsMadeAnewBeforeTheFirstWrite) {
  struct Case {
    const char* what;
    bool isVolatile, owned, labelled, hasIntegrityLevels;
    bool kept;
  } cases[] = {
      {"a normal key made by the user", false, false, false, true, false},
      {"a normal key owned by the Administrators", false, true, true, true, false},
      {"a volatile key made by the user", true, false, false, true, false},
      {"a volatile key of the Administrators without a label", true, true, false, true, false},
      {"a labelled volatile key of the user", true, false, true, true, false},
      {"the program's own key", true, true, true, true, true},
      {"as XP: a volatile key of the Administrators, no labels there", true, true, false, false,
       true},
      {"as XP: a volatile key of the user", true, false, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeRegistry registry;
    registry.hasIntegrityLevels = c.hasIntegrityLevels;
    {
      RegistryKey marker(registry);
      ASSERT_EQ(marker.Create(BoostRecordPath() + "\\marker", c.isVolatile), err::kSuccess);
      RegistryKey record(registry);
      ASSERT_EQ(record.Open(BoostRecordPath(), true), err::kSuccess);
      registry.SetDwordValue(record.Get(), "Spooler", 1);
      FakeRegistry::Node* node = registry.Edit(BoostRecordPath());
      node->ownedByAdministrators = c.owned;
      node->labelledHighNoWriteUp = c.labelled;
    }
    EXPECT_EQ(SetBoostedService(registry, "BITS", false), err::kSuccess);
    EXPECT_EQ(Read(registry), (Names{"Spooler", "BITS"}));
    EXPECT_EQ(registry.Find(BoostRecordPath() + "\\marker") != nullptr, c.kept);
    const FakeRegistry::Node* record = registry.Find(BoostRecordPath());
    EXPECT_TRUE(record->isVolatile);
    EXPECT_TRUE(record->ownedByAdministrators);
    EXPECT_EQ(record->labelledHighNoWriteUp, c.hasIntegrityLevels);
    EXPECT_EQ(registry.OpenKeyCount(), 0u);
    registry.LogOff();
    EXPECT_TRUE(Read(registry).empty());
  }
}

// A registry link at the record key, below it or on the way to it is never followed: its target is
// not read, written, inspected or deleted. A link at the record key is no record, the first write
// replaces it with the program's own key, and clearing deletes it as a link; a link on the way
// refuses the write.
TEST(BoostRecord, ALinkIsNeverFollowed) {
  const std::string victim = "Software\\Policies\\Victim";
  enum class Where { kRecord, kBelowTheRecord, kParent, kGrandParent, kParentBeforeItsCreate };
  struct Case {
    const char* what;
    Where where;
    WinError recordCode;
    Names afterRecord;
  } cases[] = {
      {"the record key is a link", Where::kRecord, err::kSuccess, {"BITS"}},
      {"a normal record key holds a link", Where::kBelowTheRecord, err::kSuccess, {"BITS"}},
      {"the record's parent is a link", Where::kParent, err::kCantAccessFile, {}},
      {"a step above the parent is a link", Where::kGrandParent, err::kCantAccessFile, {}},
      {"the missing parent is made a link just before it is created",
       Where::kParentBeforeItsCreate,
       err::kCantAccessFile,
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeRegistry registry;
    {
      RegistryKey target(registry);
      ASSERT_EQ(target.Create(victim + "\\BoostedService\\deeper", false), err::kSuccess);
      ASSERT_EQ(target.Open(victim, true), err::kSuccess);
      registry.SetDwordValue(target.Get(), "Spooler", 1);
      ASSERT_EQ(target.Open(victim + "\\BoostedService", true), err::kSuccess);
      registry.SetDwordValue(target.Get(), "Spooler", 1);
    }
    switch (c.where) {
      case Where::kRecord: registry.MakeLink(BoostRecordPath(), victim); break;
      case Where::kBelowTheRecord: {
        RegistryKey record(registry);
        ASSERT_EQ(record.Create(BoostRecordPath(), false), err::kSuccess);
        registry.SetDwordValue(record.Get(), "Spooler", 1);
        registry.MakeLink(BoostRecordPath() + "\\link", victim);
        break;
      }
      case Where::kParent: registry.MakeLink(BoostRecordParentPath(), victim); break;
      case Where::kGrandParent: {
        registry.MakeLink("Software\\Kestrava", victim);
        RegistryKey product(registry);
        ASSERT_EQ(product.Create(victim + "\\Tarnwell Kestrava FREE\\BoostedService", false),
                  err::kSuccess);
        registry.SetDwordValue(product.Get(), "Spooler", 1);
        break;
      }
      case Where::kParentBeforeItsCreate:
        registry.beforeCreate = [&](const std::string& name) {
          const std::string parent = BoostRecordParentPath();
          if (name == parent.substr(parent.rfind('\\') + 1)) registry.MakeLink(parent, victim);
        };
        break;
    }
    registry.ForgetTouches();
    const auto untouched = [&] {
      EXPECT_FALSE(registry.Touched(victim));
      EXPECT_FALSE(registry.Touched(victim + "\\BoostedService"));
      EXPECT_FALSE(registry.Touched(victim + "\\Tarnwell Kestrava FREE\\BoostedService"));
      EXPECT_NE(registry.Find(victim + "\\BoostedService\\deeper"), nullptr);
    };
    const Names before = c.where == Where::kBelowTheRecord ? Names{"Spooler"} : Names{};
    EXPECT_EQ(Read(registry), before);
    EXPECT_EQ(SetBoostedService(registry, "Spooler", true), err::kSuccess);
    untouched();

    EXPECT_EQ(SetBoostedService(registry, "BITS", false), c.recordCode);
    EXPECT_EQ(Read(registry), c.afterRecord);
    untouched();

    EXPECT_EQ(ClearBoostedServices(registry), err::kSuccess);
    EXPECT_TRUE(Read(registry).empty());
    untouched();
    EXPECT_EQ(registry.OpenKeyCount(), 0u);
  }
}

// A link left at the record (say the boost could not replace it) goes as a link at the restore.
TEST(BoostRecord, ClearingDeletesALinkAsALink) {
  const std::string victim = "Software\\Policies\\Victim";
  FakeRegistry registry;
  RegistryKey target(registry);
  ASSERT_EQ(target.Create(victim, false), err::kSuccess);
  target.Close();
  registry.MakeLink(BoostRecordPath(), victim);
  registry.ForgetTouches();
  EXPECT_EQ(ClearBoostedServices(registry), err::kSuccess);
  EXPECT_EQ(registry.Find(BoostRecordPath()), nullptr);
  EXPECT_NE(registry.Find(victim), nullptr);
  EXPECT_FALSE(registry.Touched(victim));
}

}  // namespace
}  // namespace kestrava
