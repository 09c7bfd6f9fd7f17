#include "boost/catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "boost/os_version.h"

namespace kestrava {
namespace {

std::vector<std::string> Fixed(int code) {
  const ServiceList list = FixedServices(code);
  return {list.begin(), list.end()};
}

bool Has(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

TEST(Catalogue, OptionsAreVisitedInTheBoostsOwnOrder) {
  const std::vector<OptionBox> order = {
      OptionBox::chkStopLanView,       OptionBox::chkStopKeyboardHotkey,
      OptionBox::chkStopPrinterSupport, OptionBox::chkStopLanshare,
      OptionBox::chkStopAeroEffect,    OptionBox::chkStopTasks,
      OptionBox::chkStopTabletInput,   OptionBox::chkStopProxyAutoDetect,
      OptionBox::chkStopAppCache,      OptionBox::chkStopShareMedia,
      OptionBox::chkStopWindowsUpdate, OptionBox::chkStopScanner};
  std::vector<OptionBox> visited;
  std::vector<std::string> xp, seven;
  for (const CatalogueOption& option : kCatalogueOptions) {
    visited.push_back(option.box);
    xp.push_back(OptionService(option, kOsXP));
    seven.push_back(OptionService(option, kOsSeven));
  }
  EXPECT_EQ(visited, order);
  EXPECT_EQ(xp, (std::vector<std::string>{"Browser", "hidserv", "Spooler", "LanmanServer", "",
                                          "Schedule", "", "", "", "", "BITS", "StiSvc"}));
  EXPECT_EQ(seven[8], "AeLookupSvc");
  EXPECT_EQ(seven[4], "UxSms");
}

TEST(Catalogue, FixedListsPerVersionAndNothingForOtherSystems) {
  EXPECT_EQ(Fixed(kOsXP).size(), 48u);
  EXPECT_EQ(Fixed(kOsVista).size(), 59u);
  EXPECT_EQ(Fixed(kOsSeven).size(), 66u);
  for (int code : {kOsXP, kOsVista, kOsSeven}) {
    const std::vector<std::string> names = Fixed(code);
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size()) << code;
    EXPECT_TRUE(Has(names, "W32Time")) << code;
  }
  // XP stops Windows Update through its list whatever is ticked; Vista and Seven never do.
  EXPECT_TRUE(Has(Fixed(kOsXP), "wuauserv"));
  EXPECT_FALSE(Has(Fixed(kOsVista), "wuauserv"));
  EXPECT_FALSE(Has(Fixed(kOsSeven), "wuauserv"));
  // Vista's list starts with the application cache, which Seven stops only through its option.
  EXPECT_EQ(Fixed(kOsVista).front(), "AeLookupSvc");
  EXPECT_FALSE(Has(Fixed(kOsSeven), "AeLookupSvc"));
  EXPECT_EQ(Fixed(kOsXP)[19], "SwPrv");
  EXPECT_EQ(Fixed(kOsSeven)[25], "swprv");
  for (int code : {kOsWin9x, kOsNt4, kOsWin2000, kOsNt52, kOsOther}) {
    EXPECT_TRUE(Fixed(code).empty()) << code;
    for (const CatalogueOption& option : kCatalogueOptions) {
      EXPECT_STREQ(OptionService(option, code), "") << code;
    }
  }
}

}  // namespace
}  // namespace kestrava
