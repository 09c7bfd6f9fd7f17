#include "common/system_message.h"

namespace kestrava {

// The host has no Windows message table; the texts of the codes the core reports are enough for
// its tests and tools.
std::string SystemMessage(WinError code) {
  switch (code) {
    case err::kSuccess: return "The operation completed successfully";
    case err::kInvalidFunction: return "Incorrect function";
    case err::kFileNotFound: return "The system cannot find the file specified";
    case err::kPathNotFound: return "The system cannot find the path specified";
    case err::kAccessDenied: return "Access is denied";
    case err::kInvalidHandle: return "The handle is invalid";
    case err::kNotSupported: return "The request is not supported";
    case err::kInvalidParameter: return "The parameter is incorrect";
    default: return "Error " + std::to_string(code);
  }
}

}  // namespace kestrava
