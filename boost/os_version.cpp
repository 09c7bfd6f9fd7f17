#include "boost/os_version.h"

#include <string>

#include "common/debug_log.h"

namespace kestrava {
namespace {
constexpr std::uint32_t kPlatformWin9x = 1;
constexpr std::uint32_t kPlatformNt = 2;
}  // namespace

int ClassifyOsVersion(const OsVersionReport& r) {
  if (r.platformId == kPlatformWin9x) return kOsWin9x;
  if (r.platformId != kPlatformNt) return kOsOther;
  if (r.major <= 4) return kOsNt4;
  if (r.major == 5) {
    switch (r.minor) {
      case 0: return kOsWin2000;
      case 1: return kOsXP;
      case 2: return kOsNt52;
      default: return kOsOther;
    }
  }
  if (r.major == 6) return r.minor == 0 ? kOsVista : kOsSeven;
  return kOsOther;
}

int GetOSVersion(OsVersionPort& port) {
  OsVersionReport report;
  if (port.Query(report) != err::kSuccess) return kOsOther;
  DebugLog("majorVer = " + std::to_string(report.major));
  DebugLog("minorVer = " + std::to_string(report.minor));
  return ClassifyOsVersion(report);
}

}  // namespace kestrava
