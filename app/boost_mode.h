#pragma once
// Boost mode as the window shows it. The mode is never stored: it is on exactly when the record
// of stopped services holds a name, so it survives restarts of the program but not a log-off.
#include "common/registry_port.h"

namespace kestrava {

// True when at least one name of the boosted-service record can be read. A record that cannot be
// read at all counts as off.
bool ReadBoostMode(RegistryPort& registry);

// The captions that show a mode: the boost button's and the two status panels'.
struct BoostModeTexts {
  const char* action;
  const char* panel0;
  const char* panel1;
};
BoostModeTexts TextsForBoostMode(bool boostMode);

}  // namespace kestrava
