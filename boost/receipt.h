#pragma once
// What the last boost or restore of this process did, kept in memory only: each service it tried
// and what became of it, memory before and after the trim, the defragmentation's tally, and how
// the run ended. The worker fills it from the outcomes it decides as it goes; the window keeps the
// last one and shows it as a table.
#include <string>

#include "boost/report_table.h"

namespace kestrava {

struct BoostReceipt;  // defined here by the receipt's implementation

// The receipt as the user reads it.
ReportTable ReceiptTable(const BoostReceipt& receipt);

}  // namespace kestrava
