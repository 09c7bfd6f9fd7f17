#pragma once
// The program's logo, drawn rather than loaded so that it stays sharp at any size and DPI: a
// rounded badge with a lightning bolt, and the name beside it.
#include <windows.h>

namespace kestrava {

// Draws the logo stretched into area, on the button-face background.
void DrawLogo(HDC dc, const RECT& area);

}  // namespace kestrava
