#include "app/panel_win.h"

namespace kestrava {
namespace {

constexpr char kPanelClass[] = "KestravaPanel";

// Notifications that concern the form rather than the container.
bool IsChildNotification(UINT message) {
  return message == WM_COMMAND || message == WM_NOTIFY || message == WM_DRAWITEM;
}

LRESULT CALLBACK PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (IsChildNotification(message)) return SendMessageA(GetParent(window), message, wParam, lParam);
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT frame;
    GetClientRect(window, &frame);
    DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
    EndPaint(window, &paint);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK GroupBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto original = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (IsChildNotification(message)) return SendMessageA(GetParent(window), message, wParam, lParam);
  if (message == WM_ERASEBKGND) {
    // A group box leaves its inside to its parent, which clips its children and so never paints
    // there: the box paints its own background.
    RECT inside;
    GetClientRect(window, &inside);
    FillRect(reinterpret_cast<HDC>(wParam), &inside, GetSysColorBrush(COLOR_BTNFACE));
    return TRUE;
  }
  return CallWindowProcA(original, window, message, wParam, lParam);
}

}  // namespace

const char* RegisterPanelClass(HINSTANCE instance) {
  WNDCLASSEXA panelClass{};
  panelClass.cbSize = sizeof panelClass;
  if (!GetClassInfoExA(instance, kPanelClass, &panelClass)) {
    panelClass.cbSize = sizeof panelClass;
    panelClass.style = CS_HREDRAW | CS_VREDRAW;  // the frame follows the edges
    panelClass.lpfnWndProc = PanelProc;
    panelClass.hInstance = instance;
    panelClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    panelClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    panelClass.lpszClassName = kPanelClass;
    RegisterClassExA(&panelClass);
  }
  return kPanelClass;
}

void MakeGroupBoxContainer(HWND groupBox) {
  // The button class keeps its state in its window extra bytes; the user data is ours.
  const LONG_PTR original = GetWindowLongPtrA(groupBox, GWLP_WNDPROC);
  SetWindowLongPtrA(groupBox, GWLP_USERDATA, original);
  SetWindowLongPtrA(groupBox, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(GroupBoxProc));
}

}  // namespace kestrava
