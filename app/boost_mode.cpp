#include "app/boost_mode.h"

#include <exception>
#include <string>
#include <vector>

#include "boost/record.h"
#include "common/texts.h"

namespace kestrava {

bool ReadBoostMode(RegistryPort& registry) {
  try {
    std::vector<std::string> names;
    // Any name read means services are stopped, even when another value could not be read.
    ReadBoostedServices(registry, names);
    return !names.empty();
  } catch (const std::exception&) {
    return false;
  }
}

BoostModeTexts TextsForBoostMode(bool boostMode) {
  // Panel 0 is cleared either way: it holds the last progress text of a run.
  if (boostMode) return {SQuitMode, "", SModeOn};
  return {SEnterMode, "", SModeOff};
}

}  // namespace kestrava
