#include "app/report_window.h"

#include <algorithm>

#include "boost/trim.h"

namespace kestrava {
namespace {

constexpr Anchors kBottomRight = kAnchorRight | kAnchorBottom;
constexpr Anchors kAlongBottom = kAnchorLeft | kAnchorRight | kAnchorBottom;

struct ReportControlSpec {
  Rect bounds;  // at 96 DPI in a client area of kReportClientSize
  Anchors anchors;
};

// The list takes everything above the bottom row; the buttons keep to the bottom right corner and
// the progress line takes the rest of the row.
constexpr std::array<ReportControlSpec, kReportControlCount> kReportControls{{
    {{8, 8, 744, 393}, kAnchorsAll},
    {{8, 413, 495, 17}, kAlongBottom},
    {{511, 409, 75, 23}, kBottomRight},
    {{594, 409, 75, 23}, kBottomRight},
    {{677, 409, 75, 23}, kBottomRight},
}};

// Shares room among the columns of which: each gets what it needs or an equal share of what the
// narrower ones left, whichever is less.
void Share(const std::vector<int>& needed, std::vector<std::size_t> which, int room,
           std::vector<int>& widths) {
  std::sort(which.begin(), which.end(),
            [&needed](std::size_t a, std::size_t b) { return needed[a] < needed[b]; });
  room = std::max(room, 0);
  for (std::size_t i = 0; i < which.size(); ++i) {
    const int share = room / static_cast<int>(which.size() - i);
    widths[which[i]] = std::min(needed[which[i]], share);
    room -= widths[which[i]];
  }
}

}  // namespace

ReportRects ArrangeReport(Size client, int dpi) {
  const Rect design = ScaleRect({0, 0, kReportClientSize.width, kReportClientSize.height}, dpi);
  ReportRects arranged{};
  for (std::size_t i = 0; i < kReportControlCount; ++i) {
    arranged[i] = AnchorRect(ScaleRect(kReportControls[i].bounds, dpi),
                             {design.width, design.height}, client, kReportControls[i].anchors);
  }
  return arranged;
}

Size ReportOpeningClientSize(int dpi, Size frame, Size workArea) {
  const Rect design = ScaleRect({0, 0, kReportClientSize.width, kReportClientSize.height}, dpi);
  const Rect minimum =
      ScaleRect({0, 0, kReportMinimumClientSize.width, kReportMinimumClientSize.height}, dpi);
  // Never below the minimum: the system clamps a window larger than the screen, not the controls.
  return {std::max(minimum.width, std::min(design.width, workArea.width - frame.width)),
          std::max(minimum.height, std::min(design.height, workArea.height - frame.height))};
}

std::vector<int> FitColumns(const std::vector<int>& needed, const std::vector<std::size_t>& keys,
                            int available, int floor) {
  std::vector<int> widths = needed;
  int total = 0;
  for (const int width : needed) total += width;
  if (total <= available) return widths;
  std::vector<std::size_t> key, other;
  int othersLeast = 0;
  for (std::size_t c = 0; c < needed.size(); ++c) {
    if (std::find(keys.begin(), keys.end(), c) != keys.end()) {
      key.push_back(c);
    } else {
      other.push_back(c);
      othersLeast += std::min(needed[c], floor);
    }
  }
  Share(needed, key, available - othersLeast, widths);
  int keysTaken = 0;
  for (const std::size_t c : key) keysTaken += widths[c];
  Share(needed, other, available - keysTaken, widths);
  return widths;
}

std::string ListCellText(const std::string& cell) {
  std::string text = cell;
  std::replace_if(
      text.begin(), text.end(), [](char c) { return c == '\t' || c == '\r' || c == '\n'; }, ' ');
  return text;
}

ReportTable LastRunReport(const BoostReceipt* receipt, const BoostPorts& ports) {
  if (receipt == nullptr) return NoRunTable();
  if (!receipt->boost || !receipt->trimmed) return ReceiptTable(*receipt);
  MemoryReading now;
  if (ports.memory != nullptr) {
    now.availableKnown = ports.memory->AvailablePhysical(&now.availableBytes) == err::kSuccess;
  }
  // The boost turned the privilege on for the process; asked again, so that the processes summed
  // now are those summed around the trim whatever happened since.
  if (ports.privileges != nullptr) EnablePrivilege(*ports.privileges, "SeDebugPrivilege");
  WorkingSetTotal total;
  if (ports.processes != nullptr && SumTrimmableWorkingSets(*ports.processes, total)) {
    now.workingSetsKnown = true;
    now.processes = total.processes;
    now.workingSetBytes = total.bytes;
  }
  return ReceiptTable(*receipt, now, ports.clock != nullptr ? ports.clock->Milliseconds() : 0);
}

ReportTable NoRunTable() {
  ReportTable table;
  table.columns = {"Run"};
  table.Add({SNoRunYet});
  return table;
}

}  // namespace kestrava
