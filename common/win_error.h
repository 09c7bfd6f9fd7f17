#pragma once
// Win32 error codes used by the portable core. The values are Windows' own (winerror.h); the
// Windows build checks that they agree. Ports return these codes, 0 meaning success.
#include <cstdint>

namespace kestrava {

using WinError = std::uint32_t;

namespace err {
inline constexpr WinError kSuccess = 0;
inline constexpr WinError kInvalidFunction = 1;
inline constexpr WinError kFileNotFound = 2;
inline constexpr WinError kPathNotFound = 3;
inline constexpr WinError kAccessDenied = 5;
inline constexpr WinError kInvalidHandle = 6;
inline constexpr WinError kNotEnoughMemory = 8;
inline constexpr WinError kNoMoreFiles = 18;
inline constexpr WinError kNotSupported = 50;
inline constexpr WinError kInvalidParameter = 87;
inline constexpr WinError kAlreadyExists = 183;
inline constexpr WinError kMoreData = 234;
inline constexpr WinError kNoMoreItems = 259;
inline constexpr WinError kKeyDeleted = 1018;
inline constexpr WinError kChildMustBeVolatile = 1021;
inline constexpr WinError kServiceDisabled = 1058;
inline constexpr WinError kServiceDoesNotExist = 1060;
inline constexpr WinError kCantAccessFile = 1920;
inline constexpr WinError kNotConnected = 2250;
}  // namespace err

}  // namespace kestrava
