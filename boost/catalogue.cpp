#include "boost/catalogue.h"

#include "boost/os_version.h"

namespace kestrava {
namespace {

constexpr const char* kXpServices[] = {
    "Alerter",
    "ALG",
    "AppMgmt",
    "wuauserv",
    "ClipSrv",
    "CryptSvc",
    "EventSystem",
    "COMSysApp",
    "TrkWks",
    "MSDTC",
    "FastUserSwitchingCompatibility",
    "helpsvc",
    "HTTPFilter",
    "ImapiService",
    "CiSvc",
    "PolicyAgent",
    "dmserver",
    "dmadmin",
    "Messenger",
    "SwPrv",
    "LmHosts",
    "mnmsrvc",
    "NetDDE",
    "NetDDEdsdm",
    "Netlogon",
    "Nla",
    "xmlprov",
    "NtLmSsp",
    "SysmonLog",
    "WmdmPmSN",
    "ProtectedStorage",
    "RSVP",
    "RDSessMgr",
    "RpcLocator",
    "RemoteRegistry",
    "RemoteAccess",
    "seclogon",
    "ShellHWDetection",
    "SCardSvr",
    "SSDPSRV",
    "SENS",
    "TlntSvr",
    "UPS",
    "vds",
    "WebClient",
    "Wmi",
    "W32Time",
    "WmiApSrv",
};

constexpr const char* kVistaServices[] = {
    "AeLookupSvc",
    "ALG",
    "AppMgmt",
    "CertPropSvc",
    "DFSR",
    "DPS",
    "WdiServiceHost",
    "WdiSystemHost",
    "TrkWks",
    "MSDTC",
    "Fax",
    "fdPHost",
    "FDResPub",
    "hkmsvc",
    "IKEEXT",
    "UI0Detect",
    "SharedAccess",
    "iphlpsvc",
    "PolicyAgent",
    "KtmRm",
    "lltdsvc",
    "MSiSCSI",
    "NetTcpPortSharing",
    "Netlogon",
    "napagent",
    "CscService",
    "WPCSvc",
    "PNRPsvc",
    "p2psvc",
    "p2pimsvc",
    "IPBusEnum",
    "PNRPAutoReg",
    "WPDBusEnum",
    "wercplsupport",
    "ProtectedStorage",
    "QWAVE",
    "EMDMgmt",
    "RasAuto",
    "RasMan",
    "RemoteRegistry",
    "RemoteAccess",
    "SstpSvc",
    "ShellHWDetection",
    "SCardSvr",
    "SCPolicySvc",
    "SNMPTRAP",
    "TapiSrv",
    "UmRdpService",
    "vds",
    "WebClient",
    "idsvc",
    "wcncsvc",
    "WerSvc",
    "ehRecvr",
    "ehSched",
    "ehstart",
    "WinRM",
    "WSearch",
    "W32Time",
};

constexpr const char* kSevenServices[] = {
    "AxInstSV",
    "SensrSvc",
    "ALG",
    "AppMgmt",
    "BDESVC",
    "bthserv",
    "PeerDistSvc",
    "CertPropSvc",
    "VaultSvc",
    "DPS",
    "WdiServiceHost",
    "WdiSystemHost",
    "TrkWks",
    "EFS",
    "Fax",
    "fdPHost",
    "FDResPub",
    "hkmsvc",
    "UI0Detect",
    "SharedAccess",
    "iphlpsvc",
    "PolicyAgent",
    "KtmRm",
    "lltdsvc",
    "Mcx2Svc",
    "swprv",
    "MSiSCSI",
    "NetTcpPortSharing",
    "Netlogon",
    "napagent",
    "CscService",
    "PNRPsvc",
    "p2psvc",
    "p2pimsvc",
    "pla",
    "IPBusEnum",
    "PNRPAutoReg",
    "WPDBusEnum",
    "wercplsupport",
    "PcaSvc",
    "QWAVE",
    "SessionEnv",
    "TermService",
    "UmRdpService",
    "RpcLocator",
    "RemoteRegistry",
    "RemoteAccess",
    "SCardSvr",
    "SCPolicySvc",
    "SNMPTRAP",
    "sppuinotify",
    "SSDPSRV",
    "StorSvc",
    "TBS",
    "WebClient",
    "WbioSrvc",
    "idsvc",
    "WcsPlugInService",
    "wcncsvc",
    "WerSvc",
    "Wecsvc",
    "ehRecvr",
    "ehSched",
    "WinRM",
    "WSearch",
    "W32Time",
};

template <std::size_t N>
constexpr ServiceList ListOf(const char* const (&names)[N]) {
  return ServiceList{names, N};
}

}  // namespace

bool HasCatalogue(int versionCode) {
  return versionCode == kOsXP || versionCode == kOsVista || versionCode == kOsSeven;
}

const char* OptionService(const BoostOption& option, int versionCode) {
  switch (versionCode) {
    case kOsXP: return option.xp;
    case kOsVista: return option.vista;
    case kOsSeven: return option.seven;
    default: return "";
  }
}

ServiceList FixedServices(int versionCode) {
  switch (versionCode) {
    case kOsXP: return ListOf(kXpServices);
    case kOsVista: return ListOf(kVistaServices);
    case kOsSeven: return ListOf(kSevenServices);
    default: return {};
  }
}

bool IsCatalogueService(int versionCode, const std::string& name) {
  // Service names are ASCII: a name with any other byte matches none of them.
  const auto same = [&name](const char* listed) {
    std::size_t i = 0;
    for (; listed[i] != '\0'; ++i) {
      if (i == name.size()) return false;
      const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
      };
      if (lower(listed[i]) != lower(name[i])) return false;
    }
    return i == name.size() && i != 0;  // an empty cell names no service
  };
  for (const CatalogueOption& option : kCatalogueOptions) {
    if (same(OptionService(option, versionCode))) return true;
  }
  for (const char* listed : FixedServices(versionCode)) {
    if (same(listed)) return true;
  }
  return false;
}

}  // namespace kestrava
