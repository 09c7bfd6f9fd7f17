// Compares WildcardMatch and MatchFilterPattern with the recursive definitions they implement.
// Input: one byte choosing a lead-byte range for a double-byte code page, then text and mask
// separated by the first zero byte. Inputs are kept short: the definitions are exponential.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/wildcard.h"
#include "search/text.h"
#include "tests/doubles/reference_matchers.h"

using namespace kestrava;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 40) return 0;
  const std::uint8_t leadChoice = data[0];
  const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::size_t zero = rest.find('\0');
  const std::string text = rest.substr(0, zero);
  const std::string mask = zero == std::string::npos ? "" : rest.substr(zero + 1);
  const std::string maskText = mask.substr(0, mask.find('\0'));
  if (text.size() > 24 || maskText.size() > 14) return 0;

  AnsiCodePage dbcs = SystemCodePage();
  for (int b = 0x80 + (leadChoice & 0x3F); b < 0x80 + (leadChoice & 0x3F) + 16 && b < 256; ++b) {
    dbcs.leadByte[b] = true;
  }
  if (leadChoice & 0x40) dbcs.leadByte[static_cast<unsigned char>('a')] = true;

  for (const AnsiCodePage* cp : {&SystemCodePage(), static_cast<const AnsiCodePage*>(&dbcs)}) {
    const int fast = WildcardMatch(text.c_str(), maskText.c_str(), *cp);
    const int slow = testing::ReferenceWildcardMatch(text.c_str(), maskText.c_str(), *cp);
    if (fast != slow) {
      std::fprintf(stderr, "WildcardMatch(\"%s\", \"%s\") = %d, definition %d\n", text.c_str(),
                   maskText.c_str(), fast, slow);
      std::abort();
    }
  }
  // The filter matcher takes counted strings: zero bytes are ordinary characters there.
  if (MatchFilterPattern(text, mask) != testing::ReferenceFilterMatch(text, mask)) {
    std::fprintf(stderr, "MatchFilterPattern(\"%s\", \"%s\") differs\n", text.c_str(),
                 mask.c_str());
    std::abort();
  }
  return 0;
}
