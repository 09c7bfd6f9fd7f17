#pragma once
// The Win32 side of BoostWindowPort: the worker's reads and writes of the window, each carried out
// on the window thread through a HandOff (common/hand_off.h) made in that thread.
#include <windows.h>

#include <array>
#include <atomic>
#include <functional>
#include <string>

#include "boost/boost_window.h"
#include "common/hand_off.h"

namespace kestrava {

// The controls of the window that the worker reads and writes.
struct BoostWindowControls {
  HWND statusBar = nullptr;
  HWND gamePath = nullptr;
  std::array<HWND, kOptionBoxCount> boxes{};
};

class BoostWindowWin final : public BoostWindowPort {
 public:
  // In the window thread.
  BoostWindowWin(const BoostWindowControls& controls, const std::atomic<bool>& sysAbort)
      : controls_(controls), sysAbort_(sysAbort) {}
  BoostWindowWin(const BoostWindowWin&) = delete;
  BoostWindowWin& operator=(const BoostWindowWin&) = delete;

  bool IsChecked(OptionBox box) override;
  std::string GamePath() override;
  bool SysAbort() const override { return sysAbort_.load(); }
  void SetStatusText(const std::string& text) override;
  bool Synchronize(const std::function<void()>& routine) override;

  // The window is being destroyed (its WM_DESTROY): from now on nothing the worker asks for runs.
  // This object stays until the worker is done with it.
  void WindowGone() { handOff_.Close(); }

 private:
  BoostWindowControls controls_;
  const std::atomic<bool>& sysAbort_;
  HandOff handOff_;
};

}  // namespace kestrava
