#include <random>
#include <string>

#include <gtest/gtest.h>

#include "common/wildcard.h"
#include "search/text.h"
#include "tests/doubles/reference_matchers.h"

namespace kestrava {
namespace {

using testing::ReferenceFilterMatch;
using testing::ReferenceWildcardMatch;

TEST(WildcardMatch, StarsQuestionMarksAndExactCharacters) {
  for (const char* mask : {"a*c", "a?c", "*", "***", "abc", "*c", "a*", "*b*"}) {
    EXPECT_EQ(WildcardMatch("abc", mask), kWildcardMatch) << mask;
  }
  EXPECT_EQ(WildcardMatch("", ""), kWildcardMatch);
  EXPECT_EQ(WildcardMatch("", "*"), kWildcardMatch);
  EXPECT_EQ(WildcardMatch("a", ""), kWildcardNoMatch);
  EXPECT_EQ(WildcardMatch("ABC", "abc"), kWildcardNoMatch) << "letter case counts";
  EXPECT_EQ(WildcardMatch("abd", "a*c"), kWildcardTextEnded);
  EXPECT_EQ(WildcardMatch("xbc", "a*"), kWildcardNoMatch);
}

TEST(WildcardMatch, TellsWhenTheTextRanOutBeforeTheMask) {
  EXPECT_EQ(WildcardMatch("ab", "a?c"), kWildcardTextEnded);
  EXPECT_EQ(WildcardMatch("abc", "*d"), kWildcardTextEnded);
  EXPECT_EQ(WildcardMatch("", "?"), kWildcardTextEnded);
  // The first answer other than "no match" of the tries at a "*" decides, even a "ran out".
  EXPECT_EQ(WildcardMatch("aXb", "*X?c"), kWildcardTextEnded);
  EXPECT_FALSE(MatchesWildcard("abc", "*d"));
}

TEST(WildcardMatch, ADoubleByteCharacterIsOneCharacter) {
  AnsiCodePage cp = SystemCodePage();
  cp.leadByte[0x82] = true;  // as in Shift-JIS
  const char text[] = "\x82\x61x";   // one double-byte character, then x
  EXPECT_EQ(WildcardMatch(text, "?x", cp), kWildcardMatch);
  EXPECT_EQ(WildcardMatch(text, "??x", cp), kWildcardTextEnded);
  EXPECT_EQ(WildcardMatch(text, "?", cp), kWildcardNoMatch);
  EXPECT_EQ(WildcardMatch(text, "*x", cp), kWildcardMatch);
  // A trail byte equal to "a" is not the character "a".
  EXPECT_EQ(WildcardMatch(text, "*ax", cp), kWildcardTextEnded);
  EXPECT_EQ(WildcardMatch("ax", "*ax", cp), kWildcardMatch);
  // Characters are equal only with the same bytes and length.
  EXPECT_EQ(WildcardMatch("\x82\x61", "\x82\x62", cp), kWildcardNoMatch);
  // A lead byte in the mask hides a following "*".
  EXPECT_EQ(WildcardMatch("\x82*", "\x82*", cp), kWildcardMatch);
  EXPECT_EQ(WildcardMatch("\x82q", "\x82*", cp), kWildcardNoMatch);
}

TEST(MatchFilterPattern, FoldsCaseAndTreatsQuestionMarksAsTheDesignSays) {
  EXPECT_TRUE(MatchFilterPattern("C:\\Games\\a.TMP", "*.tmp"));
  EXPECT_TRUE(MatchFilterPattern("C:\\Games\\save\\x.tmp", "*\\save\\*"));
  EXPECT_TRUE(MatchFilterPattern("C:\\Games\\readme.", "*."));
  EXPECT_FALSE(MatchFilterPattern("C:\\Games\\a.txt", "*."));
  EXPECT_FALSE(MatchFilterPattern("C:\\Games\\a.txt", ""));
  EXPECT_TRUE(MatchFilterPattern("", ""));
  EXPECT_TRUE(MatchFilterPattern("a", "a?")) << "a trailing ? at the end of the text is ignored";
  EXPECT_TRUE(MatchFilterPattern("x", "*?x")) << "a ? after a * matches nothing in particular";
  EXPECT_FALSE(MatchFilterPattern("ab", "a"));
  EXPECT_FALSE(MatchFilterPattern("a", "ab"));
  EXPECT_TRUE(MatchFilterPattern("abc", "a?c"));
  EXPECT_TRUE(MatchFilterPattern("\xC9t\xC9", "\xE9t\xE9")) << "Latin-1 capitals fold too";
  EXPECT_TRUE(MatchFilterPattern("abcabd", "*abd"));
  EXPECT_FALSE(MatchFilterPattern("abcabd", "*abc"));
}

// Random short texts and masks over a small alphabet hit every branch of both algorithms.
TEST(Matchers, AgreeWithTheRecursiveDefinitionsOnRandomShortInputs) {
  std::mt19937 random(20240611);
  const std::string alphabet = "ab*?Aa.";
  auto make = [&](std::size_t maxLength) {
    std::string s(random() % (maxLength + 1), ' ');
    for (char& c : s) c = alphabet[random() % alphabet.size()];
    return s;
  };
  AnsiCodePage dbcs = SystemCodePage();
  dbcs.leadByte[static_cast<unsigned char>('A')] = true;  // exercise double-byte steps too
  for (int round = 0; round < 20000; ++round) {
    std::string text = make(9);
    std::string mask = make(7);
    ASSERT_EQ(WildcardMatch(text.c_str(), mask.c_str()),
              ReferenceWildcardMatch(text.c_str(), mask.c_str()))
        << "text \"" << text << "\" mask \"" << mask << "\"";
    ASSERT_EQ(WildcardMatch(text.c_str(), mask.c_str(), dbcs),
              ReferenceWildcardMatch(text.c_str(), mask.c_str(), dbcs))
        << "double-byte: text \"" << text << "\" mask \"" << mask << "\"";
    ASSERT_EQ(MatchFilterPattern(text, mask), ReferenceFilterMatch(text, mask))
        << "text \"" << text << "\" pattern \"" << mask << "\"";
  }
}

// The recursive definitions take exponential time here; these must simply complete.
TEST(Matchers, HostilePatternsStayPolynomial) {
  const std::string text(5000, 'a');
  EXPECT_EQ(WildcardMatch(text.c_str(), "*a*a*a*a*a*a*a*a*b"), kWildcardTextEnded);
  EXPECT_FALSE(MatchFilterPattern(text, "*a*a*a*a*a*a*a*a*b"));
  EXPECT_TRUE(MatchFilterPattern(text + "b", "*a*a*a*a*a*a*a*a*b"));
  EXPECT_EQ(WildcardMatch((text + "b").c_str(), "*a*a*a*a*a*a*a*a*b"), kWildcardMatch);
}

}  // namespace
}  // namespace kestrava
