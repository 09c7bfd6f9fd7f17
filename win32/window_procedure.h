#pragma once
// The window procedure of a window that is one C++ object, for its class's lpfnWndProc. The object
// goes to CreateWindowEx as its creation parameter; from WM_NCCREATE until WM_NCDESTROY the window
// keeps a pointer to it in GWLP_USERDATA and hands every message to it. Window provides, privately
// if it befriends WindowProcedure<Window>:
//   void Attach(HWND window);  // WM_NCCREATE: the handle is the object's from now on
//   void Detach();             // WM_NCDESTROY: the handle and its child windows are gone
//   LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
#include <windows.h>

namespace kestrava {

template <class Window>
struct WindowProcedure {
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      auto* self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
      SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
      self->Attach(window);
    }
    auto* self = reinterpret_cast<Window*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr) return DefWindowProcA(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
      SetWindowLongPtrA(window, GWLP_USERDATA, 0);
      self->Detach();
      return DefWindowProcA(window, message, wParam, lParam);
    }
    // An exception cannot travel through the system's frames back to WinMain; ending the program
    // here would show the runtime's error box. The message counts as handled.
    try {
      return self->HandleMessage(message, wParam, lParam);
    } catch (...) {
      return 0;
    }
  }
};

}  // namespace kestrava
