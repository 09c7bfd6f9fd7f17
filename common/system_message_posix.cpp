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
    case 1052: return "The requested control is not valid for this service";
    case 1056: return "An instance of the service is already running";
    case 1058:
      return "The service cannot be started, either because it is disabled or because it has no "
             "enabled devices associated with it";
    case 1060: return "The specified service does not exist as an installed service";
    case 1061: return "The service cannot accept control messages at this time";
    default: return "Error " + std::to_string(code);
  }
}

}  // namespace kestrava
