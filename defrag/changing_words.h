#pragma once
// The part of the free-space scan that reads every word of a bitmap window: which words change
// between in use and free. Built for the processor: with SSE2 where every processor of the build
// has it (x86-64), a 64-bit word at a time elsewhere (the 32-bit Windows build, which still runs
// on processors without it).
#include <cstdint>

namespace kestrava {

// Which of the 64 words of a bitmap from word i on change anything (bit j for word i + j): a word
// changes nothing when it is all in use after a word that ends in use, or all free after one that
// ends free. Word i - 1 must exist. Most words of a volume change nothing, and the ones that do
// are found without a branch per word, which no processor could foresee.
std::uint64_t ChangingWords(const unsigned char* bitmap, std::uint32_t i);

}  // namespace kestrava
