#pragma once
// What every resizable top-level window of the program asks of the system: its window class, with
// the program's icon, the part of the screen it may take, what its frame adds to its client area
// and the smallest size it may be dragged to.
#include <windows.h>

namespace kestrava {

// Registers the class once; true also when it is registered already.
inline bool RegisterWindowClass(HINSTANCE instance, const char* name, WNDPROC procedure,
                                int iconId) {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  if (GetClassInfoExA(instance, name, &windowClass)) return true;
  const auto icon = [&](int metricX, int metricY) {
    return static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(iconId), IMAGE_ICON,
                                         GetSystemMetrics(metricX), GetSystemMetrics(metricY),
                                         LR_SHARED));
  };
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = instance;
  windowClass.hIcon = icon(SM_CXICON, SM_CYICON);
  windowClass.hIconSm = icon(SM_CXSMICON, SM_CYSMICON);
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = name;
  return RegisterClassExA(&windowClass) != 0;
}

// The part of the primary screen that taskbars and docked bars leave free.
inline RECT WorkArea() {
  RECT area{};
  if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0)) {
    area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  }
  return area;
}

// What the borders and the caption of a window of these styles add to its client area. They follow
// the system's DPI, not the scale the window's contents are laid out at.
inline SIZE FrameSize(DWORD style, DWORD exStyle) {
  RECT outer{0, 0, 0, 0};
  AdjustWindowRectEx(&outer, style, FALSE, exStyle);
  return {outer.right - outer.left, outer.bottom - outer.top};
}

// The answer to WM_GETMINMAXINFO of a window that must not be made smaller than width x height,
// frame included; the system's other limits stay.
inline void KeepMinimumTrackSize(LPARAM minMaxInfo, int width, int height) {
  auto* limits = reinterpret_cast<MINMAXINFO*>(minMaxInfo);
  if (limits->ptMinTrackSize.x < width) limits->ptMinTrackSize.x = width;
  if (limits->ptMinTrackSize.y < height) limits->ptMinTrackSize.y = height;
}

}  // namespace kestrava
