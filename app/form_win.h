#pragma once
// TfrmKestrava, the program's only window: the two groups of boost options, the boost button, the
// Close button and a two-panel status bar. Boost mode is never kept here; it is read from the
// boosted-service record each time it is shown.
#include <windows.h>
#include <commctrl.h>

#include <array>
#include <memory>
#include <string>

#include "app/application_win.h"
#include "app/boost_run.h"
#include "app/boost_window_win.h"
#include "app/layout.h"
#include "app/report_window_win.h"
#include "boost/defrag_engine.h"
#include "boost/preview.h"
#include "win32/unique_handle.h"
#include "win32/window_procedure.h"

namespace kestrava {

class TfrmKestrava final : private BoostRunHost {
 public:
  // Creates one worker, suspended, for the window and the mode flag (true: a boost, false: a
  // restore) and resumes it; the worker sets BoostFinished when it is done. False when no worker
  // could be started, in which case the button press only refreshes the mode.
  // The worker leaves its receipt in receipts.
  using WorkerStarter = bool (*)(BoostWindowPort& window, bool boost, ReceiptSlot& receipts);

  // engines makes the engine of a preview, as it makes a boost's.
  TfrmKestrava(Application& application, WorkerStarter startWorker, DefragEngineFactory engines);
  ~TfrmKestrava() override;
  TfrmKestrava(const TfrmKestrava&) = delete;
  TfrmKestrava& operator=(const TfrmKestrava&) = delete;

  // Creates the window hidden, centred on the screen, with its controls, and runs FormCreate.
  bool Create(HINSTANCE instance);
  HWND Handle() const { return window_.Get(); }
  void Show(int showCommand);
  // The answer to a second start: shows the window, restores it and brings it to the front.
  void BringToFront();
  // For the end of the process (see BoostRun::WaitBeforeExit).
  void WaitForWorkerBeforeExit() { run_.WaitBeforeExit(); }

  bool SysAbort() const { return run_.SysAbort(); }
  void SetSysAbort(bool value) { run_.SetSysAbort(value); }
  // Computed on every read from the boosted-service record; there is no stored copy.
  bool BoostMode();
  // What the last boost or restore of this process did; nullptr before the first has finished.
  // Safe to call at any time, during a run too (it then gives the run before).
  std::shared_ptr<const BoostReceipt> LastReceipt() { return run_.LastReceipt(); }

  void FormCreate();
  void ApplyTexts();
  void ShowBoostMode() override;
  void ShowEndedEarly(const std::string& line) override;
  void ActBoostExecute();
  void btnOpenClick();
  void btnCloseClick();
  void FormDestroy();
  // The system menu's "Preview boost..." and "Last run details...".
  void PreviewBoostClick();
  void LastRunDetailsClick();

 private:
  friend struct WindowProcedure<TfrmKestrava>;
  void Attach(HWND window);
  void Detach();
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void CreateControls(HINSTANCE instance);
  void ArrangeControls();
  void OnCommand(WORD id, WORD code);
  void OnDrawItem(const DRAWITEMSTRUCT& item);
  void DrawTips(const DRAWITEMSTRUCT& item);
  void DrawRule(const DRAWITEMSTRUCT& item);
  void OnActivate(bool active);
  HWND FocusTarget() const;
  HWND Control(ControlId id) const { return controls_[static_cast<std::size_t>(id)]; }
  void SetStatusPanel(int panel, const char* text);
  void AddReportMenuItems();
  PreviewRequest CurrentPreviewRequest() const;
  ReportTable LastRunTable();

  // BoostRunHost
  void EnableBoostAction(bool enabled) override;
  bool ReadBoostMode() override { return BoostMode(); }
  bool StartWorker(bool boost) override;
  void PauseAndProcessMessages() override { application_.PauseAndProcessMessages(); }
  bool Terminated() override { return application_.Terminated(); }
  void DestroyForm() override;

  Application& application_;
  WorkerStarter startWorker_;
  UniqueWindow window_;
  std::array<HWND, kControlCount> controls_{};
  HWND StatusBar = nullptr;
  HIMAGELIST SystemImages = nullptr;  // the shell's, shared: never destroyed here
  UniqueGdiObject font_;
  int dpi_ = kDesignDpi;     // the scale of the controls and fonts: see FittingDpi
  Size minimumTrackSize_{};  // the smallest window size: see MinimumClientSize
  BoostRun run_;
  std::unique_ptr<BoostWindowWin> boostWindow_;
  HWND lastFocus_ = nullptr;       // the control to give the focus back to on activation
  bool focusLentToClose_ = false;  // the boost button's focus moved to Close during a run
  HINSTANCE instance_ = nullptr;
  DefragEngineFactory engines_;
  std::unique_ptr<ReportWindow> preview_;  // the window of the last "Preview boost..."
  std::unique_ptr<ReportWindow> lastRun_;  // the window of the last "Last run details..."
};

}  // namespace kestrava
