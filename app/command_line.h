#pragma once
// The program's one command-line switch.
#include <string>
#include <vector>

namespace kestrava {

// True when the argument is the autorun switch: one of the prefix characters '-', '/' or '\'
// followed by "autorun" in any letter case, and nothing else ("/autorun=1" is not the switch).
bool IsAutorunSwitch(const std::string& argument);

// True when any of the arguments (the program name excluded) is the autorun switch.
bool HasAutorunSwitch(const std::vector<std::string>& arguments);

}  // namespace kestrava
