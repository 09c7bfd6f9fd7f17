#include <gtest/gtest.h>

#include "common/ascii_fold.h"
#include "tests/doubles/shift_jis.h"

namespace kestrava {
namespace {

TEST(FoldAsciiLower, LowersAsciiCapitalsOnlyAndNeverATrailByte) {
  const AnsiCodePage sjis = testing::ShiftJisCodePage();
  const struct {
    const char* text;
    const AnsiCodePage& cp;
    const char* folded;
  } cases[] = {
      {"AutoRun-Z@[", SystemCodePage(), "autorun-z@["},
      {"\xC9t\xC9", SystemCodePage(), "\xC9t\xC9"},  // Latin-1 capitals are not ASCII
      {"\x83\x41X", sjis, "\x83\x41x"},              // "ア" ends in 0x41, 'A'
      {"X\x83", sjis, "x\x83"},                      // a lead byte at the end stands alone
  };
  for (const auto& c : cases) EXPECT_EQ(FoldAsciiLower(c.text, c.cp), c.folded) << c.text;
}

}  // namespace
}  // namespace kestrava
