#include <windows.h>

#include "defrag/changing_words.h"

namespace kestrava {

// Windows answers this from XP on; a processor without SSE2 (a Pentium III, an Athlon XP) runs
// the portable file.
MarkChangingWordsFn MarkChangingWordsForThisProcessor() {
  return IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE) ? MarkChangingWordsSse2
                                                                     : MarkChangingWordsPortable;
}

}  // namespace kestrava
