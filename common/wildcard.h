#pragma once
// Wildcard matching with "*" (any run of characters, also none) and "?" (exactly one character).
#include <string>

#include "common/code_page.h"

namespace kestrava {

enum WildcardResult : int {
  kWildcardNoMatch = 0,
  kWildcardMatch = 1,
  kWildcardTextEnded = 2,  // the text ran out while the mask still needed characters
};

// Compares byte for byte with letter case significant; a double-byte character of the code page
// counts as one character. Runs in polynomial time on any input and allocates nothing.
int WildcardMatch(const char* text, const char* mask, const AnsiCodePage& cp = SystemCodePage());

// True exactly when WildcardMatch gives kWildcardMatch.
bool MatchesWildcard(const std::string& text, const std::string& mask);

}  // namespace kestrava
