#pragma once
// The Win32 side of BoostWindowPort: the worker's reads and writes of the window, each carried out
// on the window thread through Synchronize.
#include <windows.h>

#include <array>
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "app/boost_window.h"
#include "common/recursive_lock.h"

namespace kestrava {

// Tells the window to run the synchronised calls waiting for it. The message carries no data, so
// that nothing another program sends to our window can make us call anything.
inline constexpr UINT kSynchronizeMessage = WM_APP + 1;

// The controls of the window that the worker reads and writes.
struct BoostWindowControls {
  HWND form = nullptr;  // its window procedure answers kSynchronizeMessage with ServeSynchronize
  HWND statusBar = nullptr;
  HWND gamePath = nullptr;
  std::array<HWND, kOptionBoxCount> boxes{};
};

class BoostWindowWin final : public BoostWindowPort {
 public:
  BoostWindowWin(const BoostWindowControls& controls, const std::atomic<bool>& sysAbort)
      : controls_(controls), sysAbort_(sysAbort) {}
  BoostWindowWin(const BoostWindowWin&) = delete;
  BoostWindowWin& operator=(const BoostWindowWin&) = delete;

  bool IsChecked(OptionBox box) override;
  std::string GamePath() override;
  bool SysAbort() const override { return sysAbort_.load(); }
  void SetStatusText(const std::string& text) override;
  bool Synchronize(const std::function<void()>& routine) override;

  // Runs, on the window thread, every call waiting for it. The window procedure calls this for
  // kSynchronizeMessage.
  void ServeSynchronize();

 private:
  struct Call;

  BoostWindowControls controls_;
  const std::atomic<bool>& sysAbort_;
  RecursiveLock lock_;          // guards waiting_
  std::vector<Call*> waiting_;  // calls sent but not yet run
};

}  // namespace kestrava
