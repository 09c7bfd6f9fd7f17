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
    return ReadBoostedServices(registry, names) == err::kSuccess && !names.empty();
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
