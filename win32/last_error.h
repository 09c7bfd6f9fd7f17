#pragma once
// The code of a Win32 call that has just failed, for adapters that return codes.
#include <windows.h>

#include "common/win_error.h"

namespace kestrava {

// The calling thread's last error. A failing call that left it at 0 would otherwise be reported
// as a success with its outputs unset: that case is ERROR_INVALID_FUNCTION instead.
inline WinError FailureCode() {
  const DWORD error = ::GetLastError();
  return error != ERROR_SUCCESS ? error : ERROR_INVALID_FUNCTION;
}

}  // namespace kestrava
