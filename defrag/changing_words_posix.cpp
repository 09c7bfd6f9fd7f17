#include "defrag/changing_words.h"

namespace kestrava {

// The host build is x86-64, where every processor has SSE2.
MarkChangingWordsFn MarkChangingWordsForThisProcessor() { return MarkChangingWordsSse2; }

}  // namespace kestrava
