#include "app/report_window_win.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "common/scope_guard.h"
#include "common/texts.h"
#include "win32/top_level_window.h"

namespace kestrava {
namespace {

constexpr char kReportClass[] = "TfrmKestravaReport";
constexpr int kMainIconId = 1;
constexpr DWORD kReportStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
constexpr DWORD kReportExStyle = WS_EX_CONTROLPARENT;

// Close is IDCANCEL, so that Escape closes the window as it closes a dialog.
constexpr std::array<int, kReportControlCount> kControlIds{200, 201, 202, 203, IDCANCEL};

int IdOf(ReportControl id) { return kControlIds[static_cast<std::size_t>(id)]; }

struct ControlStyle {
  const char* windowClass;
  const char* caption;
  DWORD style;
  DWORD exStyle;
};

ControlStyle StyleOf(ReportControl id) {
  switch (id) {
    case ReportControl::lvReport:
      return {WC_LISTVIEWA, "",
              LVS_REPORT | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER | LVS_SINGLESEL | WS_TABSTOP,
              WS_EX_CLIENTEDGE};
    case ReportControl::lblProgress:
      return {"Static", "", SS_LEFTNOWORDWRAP | SS_ENDELLIPSIS | SS_NOPREFIX, 0};
    case ReportControl::btnCancel: return {"Button", SCancel, BS_PUSHBUTTON | WS_TABSTOP, 0};
    case ReportControl::btnCopy: return {"Button", SCopy, BS_PUSHBUTTON | WS_TABSTOP, 0};
    case ReportControl::btnClose: return {"Button", SClose, BS_PUSHBUTTON | WS_TABSTOP, 0};
    case ReportControl::Count: break;
  }
  return {"Static", "", 0, 0};
}

LRESULT SendTo(HWND control, UINT message, WPARAM wParam, const void* lParam) {
  return SendMessageA(control, message, wParam, reinterpret_cast<LPARAM>(lParam));
}

}  // namespace

ReportWindow::~ReportWindow() {
  // Destroyed here, while the members its handlers use still exist.
  window_.Reset();
}

bool ReportWindow::Open(HINSTANCE instance, const char* title, const ReportTable& table) {
  if (!Create(instance, title, false)) return false;
  ShowTable(table);
  return true;
}

bool ReportWindow::OpenJob(HINSTANCE instance, const char* title, ReportJob::Work work) {
  if (!Create(instance, title, true)) return false;
  ShowTable({});
  SetProgress(SPreviewStarting);
  try {
    job_ = std::make_unique<ReportJob>(
        std::move(work), [this](const std::string& line) { SetProgress(line.c_str()); },
        [this](ReportTable table) { JobDone(std::move(table)); });
  } catch (const std::exception& e) {
    ReportTable failed;
    failed.columns = {"Error"};
    failed.Add({e.what()});
    JobDone(std::move(failed));
  }
  return true;
}

bool ReportWindow::BringToFront() {
  if (!window_) return false;
  if (IsIconic(window_.Get())) ShowWindow(window_.Get(), SW_RESTORE);
  SetForegroundWindow(window_.Get());
  return true;
}

bool ReportWindow::Create(HINSTANCE instance, const char* title, bool withProgress) {
  if (!RegisterWindowClass(instance, kReportClass, WindowProcedure<ReportWindow>::Procedure,
                           kMainIconId)) {
    return false;
  }
  INITCOMMONCONTROLSEX classes{sizeof classes, ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&classes);

  const SIZE frameSize = FrameSize(kReportStyle, kReportExStyle);
  const Size frame{frameSize.cx, frameSize.cy};
  const RECT area = WorkArea();
  const Rect workArea{area.left, area.top, area.right - area.left, area.bottom - area.top};
  const Size client = ReportOpeningClientSize(dpi_, frame, {workArea.width, workArea.height});
  const Rect minimum =
      ScaleRect({0, 0, kReportMinimumClientSize.width, kReportMinimumClientSize.height}, dpi_);
  minimumTrackSize_ = {minimum.width + frame.width, minimum.height + frame.height};
  const Rect placed =
      PlaceWindow({client.width + frame.width, client.height + frame.height},
                  {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}, workArea);
  CreateWindowExA(kReportExStyle, kReportClass, title, kReportStyle, placed.left, placed.top,
                  placed.width, placed.height, owner_, nullptr, instance, this);
  if (!window_) return false;

  for (std::size_t i = 0; i < kReportControlCount; ++i) {
    const auto id = static_cast<ReportControl>(i);
    const ControlStyle style = StyleOf(id);
    // A finished report has nothing to follow or cancel.
    if (!withProgress && (id == ReportControl::lblProgress || id == ReportControl::btnCancel)) {
      continue;
    }
    controls_[i] = CreateWindowExA(
        style.exStyle, style.windowClass, style.caption,
        WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style.style, 0, 0, 0, 0, window_.Get(),
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(IdOf(id))), instance, nullptr);
    SendTo(controls_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font_), nullptr);
  }
  SendMessageA(Control(ReportControl::lvReport), LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT,
               LVS_EX_FULLROWSELECT);
  Arrange();
  ShowWindow(window_.Get(), SW_SHOW);
  SetFocus(Control(ReportControl::lvReport));
  return true;
}

void ReportWindow::Arrange() {
  if (!window_ || !Control(ReportControl::btnClose)) return;
  RECT client;
  GetClientRect(window_.Get(), &client);
  const ReportRects arranged = ArrangeReport({client.right, client.bottom}, dpi_);
  for (std::size_t i = 0; i < kReportControlCount; ++i) {
    if (controls_[i] == nullptr) continue;
    const Rect& r = arranged[i];
    SetWindowPos(controls_[i], nullptr, r.left, r.top, r.width, r.height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  FitColumnsToList();
}

void ReportWindow::ShowTable(const ReportTable& table) {
  table_ = table;
  HWND list = Control(ReportControl::lvReport);
  SendMessageA(list, WM_SETREDRAW, FALSE, 0);
  SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
  while (SendMessageA(list, LVM_DELETECOLUMN, 0, 0)) {
  }
  for (std::size_t c = 0; c < table.columns.size(); ++c) {
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_SUBITEM;
    column.pszText = const_cast<char*>(table.columns[c].c_str());
    column.iSubItem = static_cast<int>(c);
    SendTo(list, LVM_INSERTCOLUMNA, c, &column);
  }
  for (std::size_t r = 0; r < table.rows.size(); ++r) {
    const std::vector<std::string>& cells = table.rows[r];
    std::string text = cells.empty() ? std::string() : ListCellText(cells[0]);
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(r);
    item.pszText = &text[0];
    const auto row = SendTo(list, LVM_INSERTITEMA, 0, &item);
    // A row longer than the header has nowhere to show its extra cells, as in the clipboard text.
    for (std::size_t c = 1; c < cells.size() && c < table.columns.size(); ++c) {
      text = ListCellText(cells[c]);
      LVITEMA cell{};
      cell.iSubItem = static_cast<int>(c);
      cell.pszText = &text[0];
      SendTo(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(row), &cell);
    }
  }
  // What each column needs: its widest text, its header's included, and a margin on either side.
  const int margins = ScaleLength(16, dpi_);
  columnNeeds_.assign(table.columns.size(), 0);
  for (std::size_t c = 0; c < table.columns.size(); ++c) {
    auto width = SendTo(list, LVM_GETSTRINGWIDTHA, 0, table.columns[c].c_str());
    for (const std::vector<std::string>& cells : table.rows) {
      if (c < cells.size()) {
        width =
            std::max(width, SendTo(list, LVM_GETSTRINGWIDTHA, 0, ListCellText(cells[c]).c_str()));
      }
    }
    columnNeeds_[c] = static_cast<int>(width) + margins;
  }
  FitColumnsToList();
  SendMessageA(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
}

// The columns as wide as the list is, so that none reaches past its right edge; the texts cut short
// end with an ellipsis on screen and stay whole in Copy.
void ReportWindow::FitColumnsToList() {
  HWND list = Control(ReportControl::lvReport);
  if (list == nullptr || columnNeeds_.empty()) return;
  RECT client;
  GetClientRect(list, &client);
  int available = client.right - client.left;
  // The vertical scroll bar the rows are about to need takes its width from the columns too.
  const auto perPage = SendMessageA(list, LVM_GETCOUNTPERPAGE, 0, 0);
  const auto count = SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
  if ((GetWindowLongA(list, GWL_STYLE) & WS_VSCROLL) == 0 && count > perPage) {
    available -= GetSystemMetrics(SM_CXVSCROLL);
  }
  const std::vector<int> widths =
      FitColumns(columnNeeds_, table_.keyColumns, available, ScaleLength(48, dpi_));
  for (std::size_t c = 0; c < widths.size(); ++c) {
    SendMessageA(list, LVM_SETCOLUMNWIDTH, c, widths[c]);
  }
}

void ReportWindow::SetProgress(const char* text) {
  SetWindowTextA(Control(ReportControl::lblProgress), text);
}

void ReportWindow::JobDone(ReportTable table) {
  ShowTable(table);
  SetProgress(job_ && job_->Cancelled() ? SPreviewCancelled : SPreviewFinished);
  HWND cancel = Control(ReportControl::btnCancel);
  // A disabled control cannot keep the focus.
  if (GetFocus() == cancel) SetFocus(Control(ReportControl::lvReport));
  EnableWindow(cancel, FALSE);
}

// The table as text, on the clipboard as CF_TEXT (Windows makes the Unicode form from it).
void ReportWindow::CopyToClipboard() {
  const std::string text = ClipboardText(table_);
  UniqueGlobalMemory memory(GlobalAlloc(GMEM_MOVEABLE, text.size() + 1));
  if (!memory) return;
  void* bytes = GlobalLock(memory.Get());
  if (bytes == nullptr) return;
  std::memcpy(bytes, text.c_str(), text.size() + 1);
  GlobalUnlock(memory.Get());
  if (!OpenClipboard(window_.Get())) return;
  const auto close = MakeScopeExit([] { CloseClipboard(); });
  EmptyClipboard();
  // Once the clipboard has it, the memory is the system's.
  if (SetClipboardData(CF_TEXT, memory.Get()) != nullptr) memory.Release();
}

// Messages

void ReportWindow::Attach(HWND window) { window_.Reset(window); }

void ReportWindow::Detach() {
  window_.Release();
  controls_.fill(nullptr);
}

LRESULT ReportWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE: Arrange(); return 0;
    case WM_GETMINMAXINFO:
      KeepMinimumTrackSize(lParam, minimumTrackSize_.width, minimumTrackSize_.height);
      return 0;
    case WM_SETFOCUS: SetFocus(Control(ReportControl::lvReport)); return 0;
    case WM_COMMAND:
      if (HIWORD(wParam) != BN_CLICKED) return 0;
      if (LOWORD(wParam) == IdOf(ReportControl::btnClose)) {
        window_.Reset();
      } else if (LOWORD(wParam) == IdOf(ReportControl::btnCopy)) {
        CopyToClipboard();
      } else if (LOWORD(wParam) == IdOf(ReportControl::btnCancel) && job_) {
        job_->Cancel();
        EnableWindow(Control(ReportControl::btnCancel), FALSE);
        SetFocus(Control(ReportControl::lvReport));
      }
      return 0;
    case WM_DESTROY:
      // The preview stops and its thread ends before the controls it reports to go.
      job_.reset();
      return 0;
    default: break;
  }
  return DefWindowProcA(window_.Get(), message, wParam, lParam);
}

}  // namespace kestrava
