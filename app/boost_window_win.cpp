#include "app/boost_window_win.h"

#include <commctrl.h>

#include <algorithm>
#include <exception>

namespace kestrava {
namespace {

std::string WindowText(HWND window) {
  std::string text(static_cast<std::size_t>(std::max(0, GetWindowTextLengthA(window))) + 1, '\0');
  text.resize(static_cast<std::size_t>(GetWindowTextA(window, &text[0], static_cast<int>(text.size()))));
  return text;
}

}  // namespace

struct BoostWindowWin::Call {
  const std::function<void()>* routine;
  std::exception_ptr error;
  bool ran = false;
};

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
  Synchronize([&] { SendMessageA(controls_.statusBar, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(text.c_str())); });
}

bool BoostWindowWin::Synchronize(const std::function<void()>& routine) {
  Call call{&routine, nullptr};
  {
    LockHolder hold(lock_);
    waiting_.push_back(&call);
  }
  // Blocks until the window thread has handled the message, or fails at once when the window is
  // gone. Either way the call must not stay queued once this frame ends.
  SendMessageA(controls_.form, kSynchronizeMessage, 0, 0);
  {
    LockHolder hold(lock_);
    waiting_.erase(std::remove(waiting_.begin(), waiting_.end(), &call), waiting_.end());
  }
  if (call.error) std::rethrow_exception(call.error);
  return call.ran;
}

void BoostWindowWin::ServeSynchronize() {
  for (;;) {
    Call* call = nullptr;
    {
      LockHolder hold(lock_);
      if (waiting_.empty()) return;
      call = waiting_.front();
      waiting_.erase(waiting_.begin());
    }
    // The caller is blocked in SendMessageA until this message is handled, so the call and its
    // routine stay alive; an exception goes back to the caller's thread.
    call->ran = true;
    try {
      (*call->routine)();
    } catch (...) {
      call->error = std::current_exception();
    }
  }
}

}  // namespace kestrava
