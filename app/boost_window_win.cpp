#include "app/boost_window_win.h"

#include <commctrl.h>

#include "win32/window_text.h"

namespace kestrava {

bool BoostWindowWin::IsChecked(OptionBox box) {
  bool checked = false;
  HWND control = controls_.boxes[static_cast<std::size_t>(box)];
  Synchronize([&] { checked = SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED; });
  return checked;
}

std::string BoostWindowWin::GamePath() {
  std::string path;
  Synchronize([&] { path = WindowText(controls_.gamePath); });
  return path;
}

void BoostWindowWin::SetStatusText(const std::string& text) {
  Synchronize([&] {
    SendMessageA(controls_.statusBar, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(text.c_str()));
  });
}

bool BoostWindowWin::Synchronize(const std::function<void()>& routine) {
  return handOff_.Send(routine);
}

}  // namespace kestrava
