#pragma once
// A Windows version port that reports the version a test chooses (Windows 7 unless told
// otherwise), or fails with the code it is given.
#include "boost/os_version.h"

namespace kestrava {

class FixedVersion final : public OsVersionPort {
 public:
  FixedVersion() = default;
  explicit FixedVersion(OsVersionReport answer, WinError error = err::kSuccess)
      : report(answer), failure(error) {}

  WinError Query(OsVersionReport& answer) override {
    if (failure != err::kSuccess) return failure;
    answer = report;
    return err::kSuccess;
  }

  OsVersionReport report{2, 6, 1};
  WinError failure = err::kSuccess;
};

}  // namespace kestrava
