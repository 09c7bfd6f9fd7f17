#include "app/command_line.h"

#include <algorithm>

#include "common/ascii_fold.h"
#include "common/texts.h"

namespace kestrava {
namespace {

// ASCII folding only: the switch is plain ASCII, and a locale-dependent fold could make some
// other byte of the system code page equal to one of its letters.
bool EqualsIgnoringAsciiCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && FoldAsciiLower(a) == FoldAsciiLower(b);
}

}  // namespace

bool IsAutorunSwitch(const std::string& argument) {
  if (argument.empty()) return false;
  const char prefix = argument.front();
  if (prefix != '-' && prefix != '/' && prefix != '\\') return false;
  return EqualsIgnoringAsciiCase(argument.substr(1), SAutorun);
}

bool HasAutorunSwitch(const std::vector<std::string>& arguments) {
  return std::any_of(arguments.begin(), arguments.end(), IsAutorunSwitch);
}

}  // namespace kestrava
