#pragma once
// The part of the free-space scan that reads every word of a bitmap window: which of its 32-bit
// words change between in use and free. Two files do it, one with SSE2 and a portable twin, and
// the processor the program runs on decides which (MarkChangingWordsForThisProcessor).
#include <cstdint>

namespace kestrava {

// The bitmap is read in words of 32 bits, and a mark covers 32 of them: what a 32-bit processor
// works in, and on a 64-bit one as fast as words of 64.
inline constexpr std::uint32_t kMarkedWords = 32;

// Marks which words of groups of kMarkedWords words from word i on change anything: bit j of
// changing[g] for word i + kMarkedWords * g + j. A word changes nothing when it is all in use
// after a word that ends in use, or all free after one that ends free. Word i - 1 must exist.
// Most words of a volume change nothing, and the ones that do are found without a branch per
// word, which no processor could foresee.
using MarkChangingWordsFn = void (*)(const unsigned char* bitmap, std::uint32_t i,
                                     std::uint32_t groups, std::uint32_t* changing);

// With 32-bit operations alone, for any processor (changing_words_portable.cpp).
void MarkChangingWordsPortable(const unsigned char* bitmap, std::uint32_t i, std::uint32_t groups,
                               std::uint32_t* changing);
// With SSE2, for a processor that has it (changing_words_sse2.cpp, in the 32-bit build the one
// file compiled for SSE2).
void MarkChangingWordsSse2(const unsigned char* bitmap, std::uint32_t i, std::uint32_t groups,
                           std::uint32_t* changing);

// The one this processor runs: the SSE2 one where it has SSE2 (every x86-64 has; the 32-bit build
// asks Windows), else the portable one.
MarkChangingWordsFn MarkChangingWordsForThisProcessor();

}  // namespace kestrava
