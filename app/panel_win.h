#pragma once
// Containers for the main window's controls. Win32 controls report to their parent window, so a
// container passes its children's notifications on to its own parent, where the form handles them.
#include <windows.h>

namespace kestrava {

// The window class of plTip: a button-face panel framed by an etched edge (a lowered outer and a
// raised inner bevel). Registered once per process; returns the class name.
const char* RegisterPanelClass(HINSTANCE instance);

// Lets a standard group box hold controls: their notifications go on to the group box's parent.
void MakeGroupBoxContainer(HWND groupBox);

}  // namespace kestrava
