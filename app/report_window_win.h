#pragma once
// The read-only window of "Preview boost..." and "Last run details...": a list view in report
// style showing one ReportTable, a progress line and a Cancel button while a preview is being
// made, "Copy" (the table as clipboard text) and "Close". Resizable; a top-level window owned by
// the main window, which it never blocks.
#include <windows.h>

#include <memory>
#include <vector>

#include "app/report_job.h"
#include "app/report_window.h"
#include "win32/unique_handle.h"
#include "win32/window_procedure.h"

namespace kestrava {

class ReportWindow {
 public:
  // dpi and font are the main window's, so that both read alike; the font must outlive this.
  ReportWindow(HWND owner, int dpi, HFONT font) : owner_(owner), dpi_(dpi), font_(font) {}
  ~ReportWindow();
  ReportWindow(const ReportWindow&) = delete;
  ReportWindow& operator=(const ReportWindow&) = delete;

  // Creates and shows the window with the title and the table. False when it cannot be made.
  bool Open(HINSTANCE instance, const char* title, const ReportTable& table);
  // Creates and shows the window with a progress line and Cancel, and makes its table with work
  // off the window thread. False when the window or the job cannot be made.
  bool OpenJob(HINSTANCE instance, const char* title, ReportJob::Work work);
  // Brings an open window to the front; false when it has been closed.
  bool BringToFront();
  bool IsOpen() const { return static_cast<bool>(window_); }

 private:
  friend struct WindowProcedure<ReportWindow>;
  void Attach(HWND window);
  void Detach();
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  bool Create(HINSTANCE instance, const char* title, bool withProgress);
  void Arrange();
  void ShowTable(const ReportTable& table);
  void FitColumnsToList();
  void SetProgress(const char* text);
  void JobDone(ReportTable table);
  void CopyToClipboard();
  HWND Control(ReportControl id) const { return controls_[static_cast<std::size_t>(id)]; }

  HWND owner_;
  int dpi_;
  HFONT font_;
  UniqueWindow window_;
  std::array<HWND, kReportControlCount> controls_{};
  Size minimumTrackSize_{};
  ReportTable table_;               // what the list shows and Copy copies
  std::vector<int> columnNeeds_;    // the width each column's widest text needs
  std::unique_ptr<ReportJob> job_;  // the preview being made; ends when the window does
};

}  // namespace kestrava
