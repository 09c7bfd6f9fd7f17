#include "boost/catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
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

// The design's option table, row by row in the order a boost visits them: box, control, caption,
// XP, Vista, Seven.
struct OptionRow {
  OptionBox box;
  const char* name;
  const char* caption;
  const char* xp;
  const char* vista;
  const char* seven;
};
// clang-format off
const OptionRow kDesignOptions[] = {
    {OptionBox::chkStopLanView, "chkStopLanView", "Stop Network Neiborhood",
     "Browser", "Browser", "Browser"},
    {OptionBox::chkStopKeyboardHotkey, "chkStopKeyboardHotkey", "Stop Keyboard Hotkey",
     "hidserv", "hidserv", "hidserv"},
    {OptionBox::chkStopPrinterSupport, "chkStopPrinterSupport", "Stop Printer Support",
     "Spooler", "Spooler", "Spooler"},
    {OptionBox::chkStopLanshare, "chkStopLanshare", "Stop Network Share",
     "LanmanServer", "LanmanServer", "LanmanServer"},
    {OptionBox::chkStopAeroEffect, "chkStopAeroEffect", "Stop Aero Glass effect(Vista, Win7only)",
     "", "UxSms", "UxSms"},
    {OptionBox::chkStopTasks, "chkStopTasks", "Stop scheduled tasks",
     "Schedule", "Schedule", "Schedule"},
    {OptionBox::chkStopTabletInput, "chkStopTabletInput", "Stop tablet input support(Vista, Win7 only)",
     "", "TabletInputService", "TabletInputService"},
    {OptionBox::chkStopProxyAutoDetect, "chkStopProxyAutoDetect", "Stop Proxy Auto-discovery",
     "", "WinHttpAutoProxySvc", "WinHttpAutoProxySvc"},
    {OptionBox::chkStopAppCache, "chkStopAppCache", "Stop application compatibility cache",
     "", "AeLookupSvc", "AeLookupSvc"},
    {OptionBox::chkStopShareMedia, "chkStopShareMedia", "Stop sharing media to other media devices",
     "", "WMPNetworkSvc", "WMPNetworkSvc"},
    {OptionBox::chkStopWindowsUpdate, "chkStopWindowsUpdate", "Stop Windows Update",
     "BITS", "BITS", "BITS"},
    {OptionBox::chkStopScanner, "chkStopScanner", "Stop Graphics Scanner and other Device",
     "StiSvc", "StiSvc", "StiSvc"},
};
// clang-format on

// The design's fixed lists, in their order.
// clang-format off
const std::vector<std::string> kDesignXp = {
    "Alerter", "ALG", "AppMgmt", "wuauserv", "ClipSrv", "CryptSvc", "EventSystem", "COMSysApp",
    "TrkWks", "MSDTC", "FastUserSwitchingCompatibility", "helpsvc", "HTTPFilter", "ImapiService",
    "CiSvc", "PolicyAgent", "dmserver", "dmadmin", "Messenger", "SwPrv", "LmHosts", "mnmsrvc",
    "NetDDE", "NetDDEdsdm", "Netlogon", "Nla", "xmlprov", "NtLmSsp", "SysmonLog", "WmdmPmSN",
    "ProtectedStorage", "RSVP", "RDSessMgr", "RpcLocator", "RemoteRegistry", "RemoteAccess",
    "seclogon", "ShellHWDetection", "SCardSvr", "SSDPSRV", "SENS", "TlntSvr", "UPS", "vds",
    "WebClient", "Wmi", "W32Time", "WmiApSrv"};
const std::vector<std::string> kDesignVista = {
    "AeLookupSvc", "ALG", "AppMgmt", "CertPropSvc", "DFSR", "DPS", "WdiServiceHost",
    "WdiSystemHost", "TrkWks", "MSDTC", "Fax", "fdPHost", "FDResPub", "hkmsvc", "IKEEXT",
    "UI0Detect", "SharedAccess", "iphlpsvc", "PolicyAgent", "KtmRm", "lltdsvc", "MSiSCSI",
    "NetTcpPortSharing", "Netlogon", "napagent", "CscService", "WPCSvc", "PNRPsvc", "p2psvc",
    "p2pimsvc", "IPBusEnum", "PNRPAutoReg", "WPDBusEnum", "wercplsupport", "ProtectedStorage",
    "QWAVE", "EMDMgmt", "RasAuto", "RasMan", "RemoteRegistry", "RemoteAccess", "SstpSvc",
    "ShellHWDetection", "SCardSvr", "SCPolicySvc", "SNMPTRAP", "TapiSrv", "UmRdpService", "vds",
    "WebClient", "idsvc", "wcncsvc", "WerSvc", "ehRecvr", "ehSched", "ehstart", "WinRM", "WSearch",
    "W32Time"};
const std::vector<std::string> kDesignSeven = {
    "AxInstSV", "SensrSvc", "ALG", "AppMgmt", "BDESVC", "bthserv", "PeerDistSvc", "CertPropSvc",
    "VaultSvc", "DPS", "WdiServiceHost", "WdiSystemHost", "TrkWks", "EFS", "Fax", "fdPHost",
    "FDResPub", "hkmsvc", "UI0Detect", "SharedAccess", "iphlpsvc", "PolicyAgent", "KtmRm",
    "lltdsvc", "Mcx2Svc", "swprv", "MSiSCSI", "NetTcpPortSharing", "Netlogon", "napagent",
    "CscService", "PNRPsvc", "p2psvc", "p2pimsvc", "pla", "IPBusEnum", "PNRPAutoReg", "WPDBusEnum",
    "wercplsupport", "PcaSvc", "QWAVE", "SessionEnv", "TermService", "UmRdpService", "RpcLocator",
    "RemoteRegistry", "RemoteAccess", "SCardSvr", "SCPolicySvc", "SNMPTRAP", "sppuinotify",
    "SSDPSRV", "StorSvc", "TBS", "WebClient", "WbioSrvc", "idsvc", "WcsPlugInService", "wcncsvc",
    "WerSvc", "Wecsvc", "ehRecvr", "ehSched", "WinRM", "WSearch", "W32Time"};
// clang-format on

TEST(Catalogue, OptionsAreVisitedInTheBoostsOwnOrder) {
  ASSERT_EQ(kCatalogueOptions.size(), std::size(kDesignOptions));
  for (std::size_t i = 0; i < kCatalogueOptions.size(); ++i) {
    SCOPED_TRACE(i);
    const CatalogueOption& option = kCatalogueOptions[i];
    EXPECT_EQ(option.box, kDesignOptions[i].box);
    EXPECT_STREQ(option.name, kDesignOptions[i].name);
    EXPECT_STREQ(option.caption, kDesignOptions[i].caption);
    EXPECT_EQ(FindBoostOption(option.box), &option);
    EXPECT_STREQ(OptionService(option, kOsXP), kDesignOptions[i].xp);
    EXPECT_STREQ(OptionService(option, kOsVista), kDesignOptions[i].vista);
    EXPECT_STREQ(OptionService(option, kOsSeven), kDesignOptions[i].seven);
  }
  // The boxes of "Boost Option 1" stop no service.
  EXPECT_EQ(FindBoostOption(OptionBox::chkDefragMem), nullptr);
  EXPECT_EQ(FindBoostOption(OptionBox::chkDefragGamePath), nullptr);
}

TEST(Catalogue, FixedListsPerVersionAndNothingForOtherSystems) {
  EXPECT_EQ(Fixed(kOsXP), kDesignXp);
  EXPECT_EQ(Fixed(kOsVista), kDesignVista);
  EXPECT_EQ(Fixed(kOsSeven), kDesignSeven);
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

// What the restore may start: a name a boost on that version could stop, in any case; nothing
// else, not even a piece of one.
TEST(Catalogue, TheServicesABoostCouldHaveStopped) {
  struct Case {
    int code;
    const char* name;
    bool listed;
  };
  for (const Case& c : {
           Case{kOsSeven, "Spooler", true},     // an option's cell
           Case{kOsSeven, "SPOOLER", true},     // in any case
           Case{kOsSeven, "W32Time", true},     // the last of the fixed list
           Case{kOsSeven, "wuauserv", false},   // XP's list only
           Case{kOsXP, "wuauserv", true},       //
           Case{kOsXP, "UxSms", false},         // no cell on XP
           Case{kOsXP, "", false},              // the empty cells name nothing
           Case{kOsSeven, "Spool", false},      // a piece of a name
           Case{kOsSeven, "SpoolerX", false},   //
           Case{kOsSeven, "RTCore64", false},   // never in the catalogue
           Case{kOsWin2000, "Spooler", false},  // a version without one
       }) {
    EXPECT_EQ(IsCatalogueService(c.code, c.name), c.listed) << c.code << " " << c.name;
  }
}

}  // namespace
}  // namespace kestrava
