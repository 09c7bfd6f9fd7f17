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

}  // namespace kestrava
