#pragma once
// Text routines of the file search: trimming, case folding, list splitting and the filter
// pattern matcher.
#include <array>
#include <string>

#include "common/ascii_fold.h"
#include "common/code_page.h"
#include "search/string_list.h"

namespace kestrava {

// The text without leading and trailing blanks and control characters (bytes up to 0x20).
std::string Trim(const std::string& text);

// Equal when only the case of ASCII letters differs (double-byte characters compared exactly).
bool SameTextAscii(const std::string& a, const std::string& b,
                   const AnsiCodePage& cp = SystemCodePage());

// Equal under the code page's own lower-casing of every single-byte character.
bool SameTextAnsi(const std::string& a, const std::string& b,
                  const AnsiCodePage& cp = SystemCodePage());

// The pieces of text between the delimiters, each trimmed; empty pieces and pieces equal to an
// earlier one (ignoring case) are dropped.
TStringList SplitToList(const std::string& text, char delimiter);

// Each byte's lower case under the system's ANSI code page (CharLowerBuffA on Windows); built once.
const std::array<unsigned char, 256>& LowerCaseTable();

// The filters' wildcard test: "*" is any run, "?" one character while text remains (trailing "?"s
// and a "?" after a "*" match nothing in particular), other bytes equal after LowerCaseTable.
// Runs in time proportional to the product of the two lengths at worst and allocates nothing.
bool MatchFilterPattern(const std::string& text, const std::string& pattern);

}  // namespace kestrava
