#include <cstring>

#include "defrag/changing_words.h"

namespace kestrava {

void MarkChangingWordsPortable(const unsigned char* bitmap, std::uint32_t i, std::uint32_t groups,
                               std::uint32_t* changing) {
  const unsigned char* p = bitmap + i * 4;
  std::uint32_t before;
  std::memcpy(&before, p - 4, sizeof before);
  for (std::uint32_t g = 0; g < groups; ++g) {
    std::uint32_t marks = 0;
    for (std::uint32_t j = 0; j < kMarkedWords; ++j, p += 4) {
      std::uint32_t word;
      std::memcpy(&word, p, sizeof word);
      // All ones when the word before ends in use, all zeros when it ends free.
      marks |= std::uint32_t{word != 0 - (before >> 31)} << j;
      before = word;
    }
    changing[g] = marks;
  }
}

}  // namespace kestrava
