#include "defrag/changing_words.h"

#include <cstring>

namespace kestrava {

std::uint64_t ChangingWords(const unsigned char* bitmap, std::uint32_t i) {
  const auto load = [bitmap](std::uint32_t k) {
    std::uint64_t word;
    std::memcpy(&word, bitmap + k * 8, sizeof word);
    return word;
  };
  std::uint64_t changing = 0;
  std::uint64_t before = load(i - 1);
  for (std::uint32_t j = 0; j < 64; ++j) {
    const std::uint64_t word = load(i + j);
    changing |= std::uint64_t{word != 0 - (before >> 63)} << j;
    before = word;
  }
  return changing;
}

}  // namespace kestrava
