#pragma once
// The record of the services a boost stopped: one REG_DWORD value per service under a volatile
// key of the current user, so that it lasts until log-off and no longer. Boost mode is on exactly
// when the record holds a name. Every call opens and closes its own keys and returns the Win32 code
// of the registry call that failed (kSuccess otherwise); an unwritable record stays as it was. A
// missing record is no failure. The callers may go on regardless: the codes are for those who ask.
#include <string>
#include <vector>

#include "common/registry_port.h"

namespace kestrava {

// "Software\Kestrava\Tarnwell Kestrava FREE" and its "BoostedService" subkey.
std::string BoostRecordParentPath();
std::string BoostRecordPath();

// Replaces names with the recorded service names in registry enumeration order; a missing record
// gives an empty list, and so does a record that cannot be opened. A value that cannot be read is
// passed over and its code returned: the names read are kept, since each is a stopped service.
WinError ReadBoostedServices(RegistryPort& registry, std::vector<std::string>& names);

// Records (remove false) or forgets (remove true) one service. Creates the record key, and any
// missing parent, as volatile. Forgetting a name the record does not hold is no failure.
WinError SetBoostedService(RegistryPort& registry, const std::string& serviceName, bool remove);

// Deletes the record key with everything under it; its parent stays. Nothing to delete is no
// failure.
WinError ClearBoostedServices(RegistryPort& registry);

}  // namespace kestrava
