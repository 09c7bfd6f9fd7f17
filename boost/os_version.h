#pragma once
// The Windows version code that decides which services a boost may stop.
#include <cstdint>

#include "common/win_error.h"

namespace kestrava {

enum OsVersionCode : int {
  kOsWin9x = 1,
  kOsNt4 = 4,
  kOsWin2000 = 5,
  kOsXP = 6,
  kOsNt52 = 7,  // Server 2003 and XP x64
  kOsVista = 8,
  kOsSeven = 9,  // 6.1 and every later 6.x
  kOsOther = 20,
};

// What the system reports about itself (the basic OSVERSIONINFOA fields we use).
struct OsVersionReport {
  std::uint32_t platformId = 0;  // VER_PLATFORM_WIN32_WINDOWS = 1, VER_PLATFORM_WIN32_NT = 2
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
};

class OsVersionPort {
 public:
  virtual ~OsVersionPort() = default;
  // GetVersionExA's last error when the system would not say; report is then left as it was.
  virtual WinError Query(OsVersionReport& report) = 0;
};

OsVersionPort& PlatformOsVersion();  // GetVersionExA on Windows; a Windows 7 stand-in on the host

int ClassifyOsVersion(const OsVersionReport& report);

// Queries the version, logs "majorVer = N" and "minorVer = N", and classifies it. A failed query
// gives kOsOther without logging.
int GetOSVersion(OsVersionPort& port);
inline int GetOSVersion() { return GetOSVersion(PlatformOsVersion()); }

}  // namespace kestrava
