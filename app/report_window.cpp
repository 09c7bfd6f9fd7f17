#include "app/report_window.h"

#include <algorithm>

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
    {{8, 8, 624, 353}, kAnchorsAll},
    {{8, 373, 375, 17}, kAlongBottom},
    {{391, 369, 75, 23}, kBottomRight},
    {{474, 369, 75, 23}, kBottomRight},
    {{557, 369, 75, 23}, kBottomRight},
}};

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

std::string ListCellText(const std::string& cell) {
  std::string text = cell;
  std::replace_if(
      text.begin(), text.end(), [](char c) { return c == '\t' || c == '\r' || c == '\n'; }, ' ');
  return text;
}

ReportTable NoRunTable() {
  ReportTable table;
  table.columns = {"Run"};
  table.Add({SNoRunYet});
  return table;
}

}  // namespace kestrava
