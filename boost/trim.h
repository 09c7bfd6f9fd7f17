#pragma once
// "Defrag the memory": asks Windows to empty the working set of every running process, in one pass
// over a snapshot of the native process list. Silent: nothing is logged or shown.
#include "boost/process_list_port.h"

namespace kestrava {

// True when the process list was obtained and walked; false when it was not obtained.
bool TrimProcessWorkingSets(ProcessListPort& port);

}  // namespace kestrava
