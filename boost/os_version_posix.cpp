#include "boost/os_version.h"

namespace kestrava {
namespace {
// The host has no Windows version; it answers as Windows 7 so that the portable core behaves as
// on the most common target.
class HostOsVersion final : public OsVersionPort {
 public:
  WinError Query(OsVersionReport& report) override {
    report = {2, 6, 1};
    return err::kSuccess;
  }
};
}  // namespace

OsVersionPort& PlatformOsVersion() {
  static HostOsVersion port;
  return port;
}

}  // namespace kestrava
