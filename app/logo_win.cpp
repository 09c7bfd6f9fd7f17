#include "app/logo_win.h"

#include <algorithm>
#include <array>

#include "win32/unique_handle.h"

namespace kestrava {
namespace {

constexpr COLORREF kNavy = RGB(16, 42, 84);
constexpr COLORREF kTeal = RGB(0, 150, 170);

COLORREF Blend(COLORREF from, COLORREF to, int step, int steps) {
  auto mix = [&](int a, int b) { return a + (b - a) * step / std::max(1, steps); };
  return RGB(mix(GetRValue(from), GetRValue(to)), mix(GetGValue(from), GetGValue(to)),
             mix(GetBValue(from), GetBValue(to)));
}

// Selects a GDI object into a device context for one scope.
class Selection {
 public:
  Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~Selection() { SelectObject(dc_, previous_); }
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

UniqueGdiObject MakeFont(int height, int weight) {
  return UniqueGdiObject(CreateFontA(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                     OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                                     VARIABLE_PITCH | FF_SWISS, "Arial"));
}

// The badge: a rounded square shaded from navy to teal, with a white bolt.
void DrawBadge(HDC dc, const RECT& box) {
  const int side = box.right - box.left;
  const int radius = std::max(2, side / 3);
  UniqueGdiObject shape(
      CreateRoundRectRgn(box.left, box.top, box.right + 1, box.bottom + 1, radius, radius));
  const int saved = SaveDC(dc);
  SelectClipRgn(dc, static_cast<HRGN>(shape.Get()));
  for (int y = 0; y < side; ++y) {
    UniqueGdiObject band(CreateSolidBrush(Blend(kNavy, kTeal, y, side - 1)));
    RECT line{box.left, box.top + y, box.right, box.top + y + 1};
    FillRect(dc, &line, static_cast<HBRUSH>(band.Get()));
  }
  RestoreDC(dc, saved);

  // The bolt, in thousandths of the badge's side.
  constexpr std::array<POINT, 7> kBolt{
      {{600, 110}, {270, 560}, {470, 560}, {380, 900}, {740, 420}, {540, 420}, {660, 110}}};
  std::array<POINT, kBolt.size()> bolt;
  for (std::size_t i = 0; i < kBolt.size(); ++i) {
    bolt[i] = {box.left + kBolt[i].x * side / 1000, box.top + kBolt[i].y * side / 1000};
  }
  UniqueGdiObject white(CreateSolidBrush(RGB(255, 255, 255)));
  Selection brush(dc, white.Get());
  Selection pen(dc, GetStockObject(NULL_PEN));
  Polygon(dc, bolt.data(), static_cast<int>(bolt.size()));
}

// Draws text in the largest font up to maxHeight that fits width; returns the height used.
int DrawFittedText(HDC dc, const char* text, int x, int y, int width, int maxHeight, int weight,
                   COLORREF colour) {
  const int length = lstrlenA(text);
  for (int height = maxHeight; height >= 6; --height) {
    UniqueGdiObject font = MakeFont(height, weight);
    Selection selected(dc, font.Get());
    SIZE extent{};
    GetTextExtentPoint32A(dc, text, length, &extent);
    if (extent.cx <= width || height == 6) {
      SetTextColor(dc, colour);
      TextOutA(dc, x, y, text, length);
      return extent.cy;
    }
  }
  return 0;
}

}  // namespace

void DrawLogo(HDC dc, const RECT& area) {
  FillRect(dc, &area, GetSysColorBrush(COLOR_BTNFACE));
  const int height = area.bottom - area.top;
  const int width = area.right - area.left;
  if (height < 8 || width < 8) return;

  const int side = std::min(width, height * 9 / 10);
  const RECT badge{area.left, area.top + (height - side) / 2, area.left + side,
                   area.top + (height - side) / 2 + side};
  DrawBadge(dc, badge);

  const int textLeft = badge.right + std::max(2, side / 8);
  const int textWidth = area.right - textLeft;
  if (textWidth < 8) return;
  const int saved = SaveDC(dc);
  IntersectClipRect(dc, area.left, area.top, area.right, area.bottom);
  SetBkMode(dc, TRANSPARENT);
  const int nameTop = area.top + height / 6;
  const int nameHeight = DrawFittedText(dc, "Kestrava", textLeft, nameTop, textWidth,
                                        height * 45 / 100, FW_BOLD, kNavy);
  DrawFittedText(dc, "GAME BOOST", textLeft + 1, nameTop + nameHeight, textWidth, height / 5,
                 FW_NORMAL, kTeal);
  RestoreDC(dc, saved);
}

}  // namespace kestrava
