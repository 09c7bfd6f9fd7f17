#pragma once
// The report window's portable side: the system menu's two commands that open it, its texts, and
// the geometry of its controls (a list view over a bottom row of a progress line and three
// buttons), scaled like the main window and kept anchored when it is resized. The window itself is
// app/report_window_win.h.
#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "app/layout.h"
#include "boost/boost_ports.h"
#include "boost/receipt.h"
#include "boost/report_table.h"

namespace kestrava {

// The system menu's items, fixed for scripts and assistive tools (WM_SYSCOMMAND): below 0xF000,
// where the system's own commands start, and with the low four bits clear, which the system keeps
// for itself.
inline constexpr unsigned kCmdPreviewBoost = 0x1010;
inline constexpr unsigned kCmdLastRunDetails = 0x1020;
static_assert(kCmdPreviewBoost < 0xF000 && (kCmdPreviewBoost & 0xF) == 0);
static_assert(kCmdLastRunDetails < 0xF000 && (kCmdLastRunDetails & 0xF) == 0);

inline constexpr char SPreviewBoostItem[] = "Preview boost...";
inline constexpr char SLastRunDetailsItem[] = "Last run details...";
inline constexpr char SPreviewBoostTitle[] = "Preview boost";
inline constexpr char SLastRunDetailsTitle[] = "Last run details";
inline constexpr char SCopy[] = "Copy";
inline constexpr char SCancel[] = "Cancel";
inline constexpr char SPreviewStarting[] = "Looking at what a boost would do...";
inline constexpr char SPreviewFinished[] = "Finished.";
inline constexpr char SPreviewCancelled[] = "Cancelled.";
inline constexpr char SNoRunYet[] = "No boost or restore has run since Kestrava started.";

// The controls of the report window, in creation and tab order.
enum class ReportControl { lvReport, lblProgress, btnCancel, btnCopy, btnClose, Count };
inline constexpr std::size_t kReportControlCount = static_cast<std::size_t>(ReportControl::Count);
using ReportRects = std::array<Rect, kReportControlCount>;

// The client area at 96 DPI as it opens, and the smallest it may be made. As it opens, a preview's
// service name and verdict fit whole beside the narrowest of its other columns.
inline constexpr Size kReportClientSize{760, 440};
inline constexpr Size kReportMinimumClientSize{400, 160};

// The bounds of every control, indexed by ReportControl, for a client area of that size at dpi.
ReportRects ArrangeReport(Size client, int dpi);

// The client area to open with at dpi: the design's, cut to what fits in workArea once the frame
// is added.
Size ReportOpeningClientSize(int dpi, Size frame, Size workArea);

// The width of each column of a list whose client area is available pixels wide, from the width
// each column's widest text needs (needed). When they all fit, each is as wide as it needs. When
// not, no column reaches past the right edge: the key columns (the table's keyColumns) stay whole
// while every other column keeps at least floor (or what it needs, if less), and the other columns
// share what is left, the narrow ones whole and the widest cut to one width, where the list ends
// their texts with an ellipsis. Only when even that does not fit are the key columns cut alike.
std::vector<int> FitColumns(const std::vector<int>& needed, const std::vector<std::size_t>& keys,
                            int available, int floor);

// A cell as the list shows it: a tab, CR or LF becomes one space, as in the clipboard text, so
// that a system message's line break does not show as a box.
std::string ListCellText(const std::string& cell);

// The table shown by "Last run details..." before any run has finished.
ReportTable NoRunTable();

// What "Last run details..." shows when it is opened: NoRunTable before any run, else the receipt;
// after a boost that trimmed, with memory read now through ports (as the worker reads it around
// the trim) beside the readings right after the trim.
ReportTable LastRunReport(const BoostReceipt* receipt, const BoostPorts& ports);

}  // namespace kestrava
