#include "app/application_win.h"

namespace kestrava {

void Application::Run() {
  while (!terminated_) {
    MSG message;
    const BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == 0 || got == -1) {
      terminated_ = true;
      break;
    }
    Dispatch(message);
  }
}

void Application::ProcessMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      terminated_ = true;
      return;
    }
    Dispatch(message);
  }
}

void Application::PauseAndProcessMessages() {
  MsgWaitForMultipleObjectsEx(0, nullptr, 1, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  ProcessMessages();
}

void Application::Dispatch(MSG& message) {
  // The main window and the report windows it owns move between their controls like dialogs.
  HWND root = message.hwnd != nullptr ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
  if (main_ != nullptr && root != nullptr &&
      (root == main_ || GetWindow(root, GW_OWNER) == main_) && IsDialogMessageA(root, &message)) {
    return;
  }
  TranslateMessage(&message);
  DispatchMessageA(&message);
}

}  // namespace kestrava
