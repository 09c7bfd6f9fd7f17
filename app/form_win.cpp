#include "app/form_win.h"

#include <shellapi.h>

#include <algorithm>

#include "app/boost_mode.h"
#include "app/folder_browser_win.h"
#include "app/logo_win.h"
#include "app/panel_win.h"
#include "app/startup.h"
#include "boost/receipt.h"
#include "common/paths.h"
#include "common/registry_port.h"
#include "common/texts.h"
#include "win32/top_level_window.h"
#include "win32/window_text.h"

namespace kestrava {
namespace {

constexpr char kFormClass[] = "TfrmKestrava";
constexpr int kMainIconId = 1;
constexpr int kFirstControlId = 100;  // clear of IDOK and IDCANCEL, which the dialog manager sends
constexpr int kStatusBarId = 99;
constexpr DWORD kFormStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
constexpr DWORD kFormExStyle = WS_EX_CONTROLPARENT;

int ControlIdOf(ControlId id) { return kFirstControlId + static_cast<int>(id); }

int ScreenDpi() {
  const UniqueScreenDc screen(GetDC(nullptr));
  const int dpi = screen ? GetDeviceCaps(screen.Get(), LOGPIXELSY) : kDesignDpi;
  return dpi > 0 ? dpi : kDesignDpi;
}

struct ControlStyle {
  const char* windowClass;
  DWORD style;
  DWORD exStyle;
};

ControlStyle StyleOf(ControlKind kind, const char* panelClass) {
  switch (kind) {
    case ControlKind::Panel: return {panelClass, WS_CLIPCHILDREN, WS_EX_CONTROLPARENT};
    case ControlKind::Label:
    case ControlKind::Image:
    case ControlKind::Bevel: return {"Static", SS_OWNERDRAW, 0};
    case ControlKind::PushButton: return {"Button", BS_PUSHBUTTON | WS_TABSTOP, 0};
    case ControlKind::GroupBox:
      return {"Button", BS_GROUPBOX | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT};
    case ControlKind::CheckBox: return {"Button", BS_AUTOCHECKBOX | WS_TABSTOP, 0};
    case ControlKind::Edit: return {"Edit", ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE};
  }
  return {"Static", 0, 0};
}

}  // namespace

TfrmKestrava::TfrmKestrava(Application& application, WorkerStarter startWorker,
                           DefragEngineFactory engines)
    : application_(application),
      startWorker_(startWorker),
      run_(*this, BoostFinished),
      engines_(std::move(engines)) {}

TfrmKestrava::~TfrmKestrava() {
  // Destroyed here, while the members its handlers use still exist.
  window_.Reset();
}

bool TfrmKestrava::Create(HINSTANCE instance) {
  if (!RegisterWindowClass(instance, kFormClass, WindowProcedure<TfrmKestrava>::Procedure,
                           kMainIconId)) {
    return false;
  }
  // At 150 % on a 1024 x 768 screen the window would be taller and wider than the screen; the
  // system would clamp it and the bottom buttons would slide over the options. Scale less instead.
  const SIZE frameSize = FrameSize(kFormStyle, kFormExStyle);
  const Size frame{frameSize.cx, frameSize.cy};
  const RECT area = WorkArea();
  const Rect workArea{area.left, area.top, area.right - area.left, area.bottom - area.top};
  dpi_ = FittingDpi(ScreenDpi(), frame, {workArea.width, workArea.height});
  const Size client = FormClientSize(dpi_);
  const Size minimumClient = MinimumClientSize(dpi_);
  minimumTrackSize_ = {minimumClient.width + frame.width, minimumClient.height + frame.height};
  const Rect placed =
      PlaceWindow({client.width + frame.width, client.height + frame.height},
                  {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}, workArea);

  CreateWindowExA(kFormExStyle, kFormClass, "", kFormStyle, placed.left, placed.top, placed.width,
                  placed.height, nullptr, nullptr, instance, this);
  if (!window_) return false;
  instance_ = instance;
  CreateControls(instance);
  AddReportMenuItems();
  ArrangeControls();
  FormCreate();
  return true;
}

void TfrmKestrava::CreateControls(HINSTANCE instance) {
  const char* panelClass = RegisterPanelClass(instance);
  font_.Reset(CreateFontA(-ScaleLength(kFontCharHeight, dpi_), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                          FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                          DEFAULT_QUALITY, VARIABLE_PITCH | FF_SWISS, "Arial"));
  const auto font = reinterpret_cast<WPARAM>(font_.Get());

  // Created in table order: parents first, siblings in their tab order.
  for (const ControlSpec& entry : FormControls()) {
    const ControlStyle style = StyleOf(entry.kind, panelClass);
    HWND parent = entry.parent == ControlId::Form ? Handle() : Control(entry.parent);
    HWND control = CreateWindowExA(
        style.exStyle, style.windowClass, entry.caption ? entry.caption : "",
        WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style.style, 0, 0, 0, 0, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlIdOf(entry.id))), instance, nullptr);
    controls_[static_cast<std::size_t>(entry.id)] = control;
    SendMessageA(control, WM_SETFONT, font, FALSE);
    if (entry.kind == ControlKind::GroupBox) MakeGroupBoxContainer(control);
    if (entry.kind == ControlKind::CheckBox) {
      SendMessageA(control, BM_SETCHECK, entry.checked ? BST_CHECKED : BST_UNCHECKED, 0);
    }
  }

  StatusBar = CreateWindowExA(
      0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, Handle(),
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(kStatusBarId)), instance, nullptr);
  SendMessageA(StatusBar, WM_SETFONT, font, FALSE);
  int parts[2] = {ScaleLength(kStatusPanel0Width, dpi_), -1};
  SendMessageA(StatusBar, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));

  BoostWindowControls worker;
  worker.statusBar = StatusBar;
  worker.gamePath = Control(ControlId::edtGamePath);
  for (std::size_t i = 0; i < kOptionBoxCount; ++i) {
    worker.boxes[i] = Control(OptionControl(static_cast<OptionBox>(i)));
  }
  boostWindow_ = std::make_unique<BoostWindowWin>(worker, run_.SysAbortFlag());
}

void TfrmKestrava::ArrangeControls() {
  if (!window_ || !Control(ControlId::plTip)) return;
  RECT client;
  GetClientRect(Handle(), &client);
  const auto arranged = ArrangeForm({client.right, client.bottom}, dpi_);
  for (std::size_t i = 0; i < kControlCount; ++i) {
    const Rect& r = arranged[i];
    SetWindowPos(controls_[i], nullptr, r.left, r.top, r.width, r.height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  // The description wraps anew at its new width.
  InvalidateRect(Control(ControlId::lblTips), nullptr, TRUE);
  SendMessageA(StatusBar, WM_SIZE, 0, 0);
}

void TfrmKestrava::Show(int showCommand) {
  ShowWindow(Handle(), showCommand);
  UpdateWindow(Handle());
}

void TfrmKestrava::BringToFront() {
  // Also a window hidden by the autorun switch: a second start is the user asking for it.
  if (!IsWindowVisible(Handle())) ShowWindow(Handle(), SW_SHOW);
  if (IsIconic(Handle())) ShowWindow(Handle(), SW_RESTORE);
  // While the folder browser is open, it is the window to bring forward.
  SetForegroundWindow(GetLastActivePopup(Handle()));
}

// Operations of the window.

void TfrmKestrava::FormCreate() {
  SHFILEINFOA info{};
  SystemImages = reinterpret_cast<HIMAGELIST>(
      SHGetFileInfoA("", 0, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
  run_.SetSysAbort(false);
  ApplyTexts();
  ShowBoostMode();
}

void TfrmKestrava::ApplyTexts() {
  SetWindowTextA(Handle(), SAppTitle);
  SetWindowTextA(Control(ControlId::lblTips), SAppDescription);
  SetWindowTextA(Control(ControlId::btnOpen), SBrowse);
  SetWindowTextA(Control(ControlId::btnClose), SClose);
}

bool TfrmKestrava::BoostMode() { return kestrava::ReadBoostMode(PlatformRegistry()); }

void TfrmKestrava::ShowBoostMode() {
  const BoostModeTexts texts = TextsForBoostMode(BoostMode());
  SetWindowTextA(Control(ControlId::btnRecovery), texts.action);
  SetStatusPanel(0, texts.panel0);
  SetStatusPanel(1, texts.panel1);
}

void TfrmKestrava::ShowEndedEarly(const std::string& line) { SetStatusPanel(0, line.c_str()); }

void TfrmKestrava::ActBoostExecute() { run_.Execute(); }

void TfrmKestrava::btnOpenClick() {
  std::string folder;
  if (BrowseForFolder(Handle(), SAppTitle, &folder)) {
    SetWindowTextA(Control(ControlId::edtGamePath), AddBackslash(folder).c_str());
  }
}

void TfrmKestrava::btnCloseClick() { run_.RequestClose(); }

void TfrmKestrava::FormDestroy() { run_.SetSysAbort(true); }

// The report windows

void TfrmKestrava::AddReportMenuItems() {
  HMENU menu = GetSystemMenu(Handle(), FALSE);
  AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(menu, MF_STRING, kCmdPreviewBoost, SPreviewBoostItem);
  AppendMenuA(menu, MF_STRING, kCmdLastRunDetails, SLastRunDetailsItem);
}

// The boxes as they are at the click: the preview thread reads none of the window's controls.
PreviewRequest TfrmKestrava::CurrentPreviewRequest() const {
  PreviewRequest request;
  for (std::size_t i = 0; i < kOptionBoxCount; ++i) {
    HWND box = Control(OptionControl(static_cast<OptionBox>(i)));
    request.checked[i] = SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
  }
  request.gamePath = WindowText(Control(ControlId::edtGamePath));
  return request;
}

void TfrmKestrava::PreviewBoostClick() {
  // A preview beside a boost would describe a machine that is changing under it.
  if (run_.WorkerRunning()) return;
  // A new click previews the boxes as they are now: the old preview, if any, ends with its window.
  preview_ = std::make_unique<ReportWindow>(Handle(), dpi_, static_cast<HFONT>(font_.Get()));
  DefragEngineFactory engines = engines_;
  preview_->OpenJob(instance_, SPreviewBoostTitle,
                    [request = CurrentPreviewRequest(), engines](
                        const ReportJob::Progress& progress, const std::atomic<bool>& cancel) {
                      const std::unique_ptr<DefragEngine> engine = engines();
                      return PreviewBoost(PlatformBoostPorts(), *engine, request, progress, cancel);
                    });
}

void TfrmKestrava::LastRunDetailsClick() {
  lastRun_ = std::make_unique<ReportWindow>(Handle(), dpi_, static_cast<HFONT>(font_.Get()));
  lastRun_->Open(instance_, SLastRunDetailsTitle, LastRunTable());
}

ReportTable TfrmKestrava::LastRunTable() {
  const std::shared_ptr<const BoostReceipt> receipt = LastReceipt();
  return LastRunReport(receipt.get(), PlatformBoostPorts());
}

// BoostRunHost

void TfrmKestrava::EnableBoostAction(bool enabled) {
  HWND button = Control(ControlId::btnRecovery);
  if (!enabled && GetFocus() == button) {
    // A disabled control cannot keep the focus; lend it to Close, which stays usable.
    SetFocus(Control(ControlId::btnClose));
    focusLentToClose_ = true;
  }
  EnableWindow(button, enabled);
  EnableMenuItem(GetSystemMenu(Handle(), FALSE), kCmdPreviewBoost,
                 MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
  if (enabled && focusLentToClose_) {
    focusLentToClose_ = false;
    if (GetFocus() == Control(ControlId::btnClose)) SetFocus(button);
  }
}

bool TfrmKestrava::StartWorker(bool boost) {
  return startWorker_ != nullptr && startWorker_(*boostWindow_, boost, run_.Receipts());
}

void TfrmKestrava::DestroyForm() {
  // WM_NCDESTROY lets go of the handle while it is being destroyed.
  window_.Reset();
}

void TfrmKestrava::SetStatusPanel(int panel, const char* text) {
  SendMessageA(StatusBar, SB_SETTEXTA, static_cast<WPARAM>(panel), reinterpret_cast<LPARAM>(text));
}

// Messages

void TfrmKestrava::Attach(HWND window) { window_.Reset(window); }

void TfrmKestrava::Detach() {
  window_.Release();
  controls_.fill(nullptr);
  StatusBar = nullptr;
  application_.SetMainWindow(nullptr);
}

LRESULT TfrmKestrava::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE: ArrangeControls(); return 0;
    case WM_GETMINMAXINFO:
      // Below this size the anchored controls would overlap.
      KeepMinimumTrackSize(lParam, minimumTrackSize_.width, minimumTrackSize_.height);
      return 0;
    case WM_COMMAND: OnCommand(LOWORD(wParam), HIWORD(wParam)); return 0;
    case WM_DRAWITEM: OnDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)); return TRUE;
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE || HIWORD(wParam) != 0) {
        OnActivate(false);
        break;
      }
      OnActivate(true);
      return 0;
    case WM_SETFOCUS:
      if (HWND target = FocusTarget()) SetFocus(target);
      return 0;
    case WM_CLOSE:
      // The close box and Alt+F4 close the way the Close button does, so that a running worker
      // never outlives the controls it reads.
      btnCloseClick();
      return 0;
    case WM_ENDSESSION:
      // The logon ends and the process with it: stop a defragmentation and let the worker finish.
      if (wParam) {
        run_.SetSysAbort(true);
        if (run_.WorkerRunning()) run_.WaitForWorker();
      }
      return 0;
    case WM_DESTROY:
      // The worker may outlive the controls; what it asks of them from now on runs nowhere.
      if (boostWindow_) boostWindow_->WindowGone();
      FormDestroy();
      PostQuitMessage(0);
      return 0;
    case WM_SYSCOMMAND:
      // The low four bits are the system's own.
      if ((wParam & 0xFFF0) == kCmdPreviewBoost) {
        PreviewBoostClick();
        return 0;
      }
      if ((wParam & 0xFFF0) == kCmdLastRunDetails) {
        LastRunDetailsClick();
        return 0;
      }
      break;
    case kWakeUpMessage: BringToFront(); return 0;
    default: break;
  }
  return DefWindowProcA(Handle(), message, wParam, lParam);
}

void TfrmKestrava::OnCommand(WORD id, WORD code) {
  if (code != BN_CLICKED) return;
  if (id == ControlIdOf(ControlId::btnRecovery)) {
    ActBoostExecute();
  } else if (id == ControlIdOf(ControlId::btnOpen)) {
    btnOpenClick();
  } else if (id == ControlIdOf(ControlId::btnClose)) {
    btnCloseClick();
  }
}

void TfrmKestrava::OnDrawItem(const DRAWITEMSTRUCT& item) {
  if (item.CtlID == static_cast<UINT>(ControlIdOf(ControlId::lblTips))) {
    DrawTips(item);
  } else if (item.CtlID == static_cast<UINT>(ControlIdOf(ControlId::Image1))) {
    DrawLogo(item.hDC, item.rcItem);
  } else if (item.CtlID == static_cast<UINT>(ControlIdOf(ControlId::Bevel1))) {
    DrawRule(item);
  }
}

// A lowered rule: a shadow line over a highlight line, one pixel each at any DPI.
void TfrmKestrava::DrawRule(const DRAWITEMSTRUCT& item) {
  FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
  RECT line = item.rcItem;
  line.bottom = line.top + 1;
  FillRect(item.hDC, &line, GetSysColorBrush(COLOR_BTNSHADOW));
  OffsetRect(&line, 0, 1);
  FillRect(item.hDC, &line, GetSysColorBrush(COLOR_BTNHIGHLIGHT));
}

// The description: word-wrapped and centred vertically in its box; when it needs more lines
// than fit, its beginning stays visible.
void TfrmKestrava::DrawTips(const DRAWITEMSTRUCT& item) {
  FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
  const std::string text = WindowText(item.hwndItem);
  const HGDIOBJ previousFont = SelectObject(item.hDC, font_.Get());
  constexpr UINT kFormat = DT_WORDBREAK | DT_NOPREFIX | DT_LEFT;
  RECT measured = item.rcItem;
  DrawTextA(item.hDC, text.c_str(), -1, &measured, kFormat | DT_CALCRECT);
  RECT box = item.rcItem;
  box.top +=
      std::max(0L, ((item.rcItem.bottom - item.rcItem.top) - (measured.bottom - measured.top)) / 2);
  SetBkMode(item.hDC, TRANSPARENT);
  SetTextColor(item.hDC, GetSysColor(COLOR_BTNTEXT));
  DrawTextA(item.hDC, text.c_str(), -1, &box, kFormat);
  SelectObject(item.hDC, previousFont);
}

// Like a dialog, the window gives the focus back to the control that had it.
void TfrmKestrava::OnActivate(bool active) {
  if (!active) {
    HWND focus = GetFocus();
    if (focus != nullptr && IsChild(Handle(), focus)) lastFocus_ = focus;
    return;
  }
  if (HWND target = FocusTarget()) SetFocus(target);
}

HWND TfrmKestrava::FocusTarget() const {
  if (lastFocus_ != nullptr && IsWindow(lastFocus_) && IsWindowEnabled(lastFocus_))
    return lastFocus_;
  return GetNextDlgTabItem(Handle(), nullptr, FALSE);
}

}  // namespace kestrava
