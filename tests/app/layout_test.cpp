#include "app/layout.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <ostream>
#include <string>

namespace kestrava {

// Failures read "{left, top, width x height}" instead of a dump of bytes.
void PrintTo(const Rect& r, std::ostream* out) {
  *out << "{" << r.left << ", " << r.top << ", " << r.width << " x " << r.height << "}";
}
void PrintTo(const Size& s, std::ostream* out) { *out << s.width << " x " << s.height; }

namespace {

std::size_t Index(ControlId id) { return static_cast<std::size_t>(id); }

bool Inside(const Rect& inner, Size outer) {
  return inner.left >= 0 && inner.top >= 0 && inner.Right() <= outer.width &&
         inner.Bottom() <= outer.height;
}

bool Overlap(const Rect& a, const Rect& b) {
  return a.left < b.Right() && b.left < a.Right() && a.top < b.Bottom() && b.top < a.Bottom();
}

TEST(Layout, ScalingRoundsToTheNearestPixel) {
  EXPECT_EQ(ScaleLength(12, 96), 12);
  EXPECT_EQ(ScaleLength(12, 120), 15);
  EXPECT_EQ(ScaleLength(12, 144), 18);
  EXPECT_EQ(ScaleLength(2, 120), 3);  // 2.5
  EXPECT_EQ(ScaleLength(1, 120), 1);  // 1.25
  EXPECT_EQ(ScaleLength(-2, 120), -3);
  EXPECT_EQ(ScaleLength(600, 120), 750);
}

TEST(Layout, ControlsThatTouchStillTouchAtEveryDpi) {
  const Rect left{7, 5, 13, 9};
  const Rect right{left.Right(), left.Bottom(), 11, 17};
  for (int dpi : {96, 101, 110, 120, 144, 168, 192}) {
    const Rect a = ScaleRect(left, dpi);
    const Rect b = ScaleRect(right, dpi);
    EXPECT_EQ(a.Right(), b.left) << dpi;
    EXPECT_EQ(a.Bottom(), b.top) << dpi;
  }
}

TEST(Layout, AnchorsDecideWhichEdgesFollowTheParent) {
  const Rect r{10, 20, 100, 30};
  const Size design{400, 300};
  const Size bigger{450, 320};  // 50 wider, 20 taller
  EXPECT_EQ(AnchorRect(r, design, bigger, kAnchorsDefault), r);
  EXPECT_EQ(AnchorRect(r, design, bigger, kAnchorRight | kAnchorBottom), (Rect{60, 40, 100, 30}));
  EXPECT_EQ(AnchorRect(r, design, bigger, kAnchorLeft | kAnchorTop | kAnchorRight),
            (Rect{10, 20, 150, 30}));
  EXPECT_EQ(AnchorRect(r, design, bigger, kAnchorsAll), (Rect{10, 20, 150, 50}));
  // Anchored to neither side: the centre keeps its share of the parent (60 of 400 -> 67 of 450).
  EXPECT_EQ(AnchorRect(r, design, bigger, kAnchorTop), (Rect{17, 20, 100, 30}));
}

TEST(Layout, StretchedControlsNeverGetANegativeSize) {
  const Rect r = AnchorRect({10, 20, 100, 30}, {400, 300}, {250, 200}, kAnchorsAll);
  EXPECT_EQ(r.width, 0);
  EXPECT_EQ(r.height, 0);
}

TEST(Layout, EveryControlFitsItsParentWithoutOverlappingASibling) {
  const auto& controls = FormControls();
  for (std::size_t i = 0; i < controls.size(); ++i) {
    const ControlSpec& entry = controls[i];
    ASSERT_EQ(Index(entry.id), i) << entry.name;
    Size parent = kFormClientSize;
    if (entry.parent != ControlId::Form) {
      ASSERT_LT(Index(entry.parent), i) << entry.name << " is created before its parent";
      const Rect& p = FormControl(entry.parent).bounds;
      parent = {p.width, p.height};
    }
    EXPECT_TRUE(Inside(entry.bounds, parent)) << entry.name;
    for (std::size_t j = 0; j < i; ++j) {
      if (controls[j].parent == entry.parent) {
        EXPECT_FALSE(Overlap(controls[j].bounds, entry.bounds))
            << controls[j].name << " / " << entry.name;
      }
    }
  }
}

// The window's design at 96 DPI, written out from the form description rather than taken from
// the layout or the option table: a slip in a number, a name, a caption or the order of the tables
// shows here. The rows are in creation order, which is also the Tab key's. Each box the worker
// reads is reached through OptionControl, the window's own mapping: the box must be the control
// of its name, in its place.
TEST(Layout, AtDesignSizeEveryControlStaysWhereItWasDesigned) {
  constexpr Anchors LT = kAnchorLeft | kAnchorTop;
  constexpr Anchors LTR = kAnchorLeft | kAnchorTop | kAnchorRight;
  constexpr Anchors RB = kAnchorRight | kAnchorBottom;
  constexpr Anchors All = kAnchorLeft | kAnchorTop | kAnchorRight | kAnchorBottom;
  using C = ControlId;
  auto box = [](OptionBox b) { return OptionControl(b); };
  using B = OptionBox;
  struct Designed {
    ControlId id;
    const char* name;
    ControlId parent;
    int left, top, width, height;
    Anchors anchors;
    const char* caption;  // nullptr: set at run time
  };
  // clang-format off
  const Designed designed[] = {
      {C::plTip, "plTip", C::Form, 7, 5, 777, 502, All, ""},
      {C::lblTips, "lblTips", C::plTip, 208, 16, 552, 68, LTR, nullptr},
      {C::Bevel1, "Bevel1", C::plTip, 8, 101, 758, 2, LT, ""},
      {C::Image1, "Image1", C::plTip, 16, 14, 185, 70, LT, ""},
      {C::btnRecovery, "btnRecovery", C::plTip, 403, 468, 225, 25, RB, nullptr},
      {C::GroupBox1, "GroupBox1", C::plTip, 15, 235, 751, 225, LTR, "Boost Option 2"},
      {box(B::chkStopPrinterSupport), "chkStopPrinterSupport", C::GroupBox1, 390, 25, 324, 17, LT,
       "Stop Printer Support"},
      {box(B::chkStopAeroEffect), "chkStopAeroEffect", C::GroupBox1, 390, 58, 324, 17, LT,
       "Stop Aero Glass effect(Vista, Win7only)"},
      {box(B::chkStopTabletInput), "chkStopTabletInput", C::GroupBox1, 390, 91, 324, 17, LT,
       "Stop tablet input support(Vista, Win7 only)"},
      {box(B::chkStopAppCache), "chkStopAppCache", C::GroupBox1, 390, 125, 324, 17, LT,
       "Stop application compatibility cache"},
      {box(B::chkStopLanView), "chkStopLanView", C::GroupBox1, 390, 158, 324, 17, LT,
       "Stop Network Neiborhood"},
      {box(B::chkStopScanner), "chkStopScanner", C::GroupBox1, 390, 192, 324, 17, LT,
       "Stop Graphics Scanner and other Device"},
      {box(B::chkStopKeyboardHotkey), "chkStopKeyboardHotkey", C::GroupBox1, 12, 25, 355, 17, LT,
       "Stop Keyboard Hotkey"},
      {box(B::chkStopLanshare), "chkStopLanshare", C::GroupBox1, 12, 58, 355, 17, LT,
       "Stop Network Share"},
      {box(B::chkStopTasks), "chkStopTasks", C::GroupBox1, 12, 91, 355, 17, LT,
       "Stop scheduled tasks"},
      {box(B::chkStopProxyAutoDetect), "chkStopProxyAutoDetect", C::GroupBox1, 12, 192, 355, 17, LT,
       "Stop Proxy Auto-discovery"},
      {box(B::chkStopShareMedia), "chkStopShareMedia", C::GroupBox1, 12, 158, 355, 17, LT,
       "Stop sharing media to other media devices"},
      {box(B::chkStopWindowsUpdate), "chkStopWindowsUpdate", C::GroupBox1, 12, 125, 355, 17, LT,
       "Stop Windows Update"},
      {C::GroupBox2, "GroupBox2", C::plTip, 14, 118, 751, 109, LTR, "Boost Option 1"},
      {box(B::chkDefragGamePath), "chkDefragGamePath", C::GroupBox2, 16, 45, 686, 17, LT,
       "Defrag the path of the game:"},
      {box(B::chkDefragMem), "chkDefragMem", C::GroupBox2, 16, 20, 686, 17, LT, "Defrag the memory"},
      {C::edtGamePath, "edtGamePath", C::GroupBox2, 16, 74, 606, 23, LT, ""},
      {C::btnOpen, "btnOpen", C::GroupBox2, 630, 74, 92, 21, LT, nullptr},
      {C::btnClose, "btnClose", C::plTip, 635, 468, 129, 24, RB, nullptr},
  };
  // clang-format on
  static_assert(sizeof designed / sizeof designed[0] == kControlCount, "one row per control");
  EXPECT_EQ(kFormClientSize, (Size{792, 533}));
  EXPECT_EQ(kStatusPanel0Width, 600);
  EXPECT_EQ(kFontCharHeight, 12);

  const auto arranged = ArrangeForm({792, 533}, 96);
  for (std::size_t i = 0; i < kControlCount; ++i) {
    const Designed& d = designed[i];
    SCOPED_TRACE(d.name);
    EXPECT_EQ(Index(d.id), i) << "created out of its tab order";
    const ControlSpec& entry = FormControl(d.id);
    EXPECT_STREQ(entry.name, d.name);
    EXPECT_EQ(arranged[Index(d.id)], (Rect{d.left, d.top, d.width, d.height}));
    EXPECT_EQ(entry.parent, d.parent);
    EXPECT_EQ(entry.anchors, d.anchors);
    // Every check box is ticked as the window opens but the game path's.
    EXPECT_EQ(entry.checked,
              std::string(d.name).rfind("chk", 0) == 0 && d.id != C::chkDefragGamePath);
    if (d.caption == nullptr) {
      EXPECT_EQ(entry.caption, nullptr);
    } else {
      EXPECT_STREQ(entry.caption, d.caption);
    }
  }
}

TEST(Layout, ResizingMovesTheButtonsAndStretchesTheGroupsButNotTheirOptions) {
  const auto design = ArrangeForm(kFormClientSize, 96);
  const auto grown = ArrangeForm({kFormClientSize.width + 100, kFormClientSize.height + 50}, 96);
  auto delta = [&](ControlId id) {
    const Rect& a = design[Index(id)];
    const Rect& b = grown[Index(id)];
    return Rect{b.left - a.left, b.top - a.top, b.width - a.width, b.height - a.height};
  };
  EXPECT_EQ(delta(ControlId::plTip), (Rect{0, 0, 100, 50}));
  EXPECT_EQ(delta(ControlId::btnRecovery), (Rect{100, 50, 0, 0}));
  EXPECT_EQ(delta(ControlId::btnClose), (Rect{100, 50, 0, 0}));
  EXPECT_EQ(delta(ControlId::lblTips), (Rect{0, 0, 100, 0}));
  EXPECT_EQ(delta(ControlId::GroupBox1), (Rect{0, 0, 100, 0}));
  EXPECT_EQ(delta(ControlId::GroupBox2), (Rect{0, 0, 100, 0}));
  EXPECT_EQ(delta(ControlId::Bevel1), (Rect{}));
  EXPECT_EQ(delta(ControlId::Image1), (Rect{}));
  EXPECT_EQ(delta(OptionControl(OptionBox::chkStopPrinterSupport)), (Rect{}));
  EXPECT_EQ(delta(ControlId::btnOpen), (Rect{}));
}

TEST(Layout, AtAnotherDpiTheWholeWindowScalesAlike) {
  for (int dpi : {120, 144}) {
    const Rect client = ScaleRect({0, 0, kFormClientSize.width, kFormClientSize.height}, dpi);
    const auto arranged = ArrangeForm({client.width, client.height}, dpi);
    for (const ControlSpec& entry : FormControls()) {
      EXPECT_EQ(arranged[Index(entry.id)], ScaleRect(entry.bounds, dpi))
          << entry.name << " at " << dpi;
    }
    // Nested anchoring works in scaled units: growing the scaled window moves the Close button
    // by exactly the growth.
    const auto grown = ArrangeForm({client.width + 40, client.height + 30}, dpi);
    EXPECT_EQ(grown[Index(ControlId::btnClose)].left,
              arranged[Index(ControlId::btnClose)].left + 40);
    EXPECT_EQ(grown[Index(ControlId::btnClose)].top, arranged[Index(ControlId::btnClose)].top + 30);
  }
}

// What a window's borders and caption add to its client area, as Wine 8 draws them at 96, 120 and
// 144 DPI (at 96 DPI also Windows XP's: the design's 800 x 560 window around 792 x 533).
constexpr Size kFrame96{8, 27};
constexpr Size kFrame120{8, 32};
constexpr Size kFrame144{10, 38};

TEST(Layout, TheScaleIsTheSystemsUnlessTheWindowWouldNotFitTheWorkArea) {
  struct Case {
    const char* screen;
    int systemDpi;
    Size frame;
    Size workArea;
    int dpi;
  };
  const Case cases[] = {
      {"1024 x 768 at 96 DPI", 96, kFrame96, {1024, 768}, 96},
      {"800 x 600 at 96 DPI: 800 x 560 fits exactly in width", 96, kFrame96, {800, 600}, 96},
      {"one pixel narrower", 96, kFrame96, {799, 600}, 95},
      {"1024 x 768 at 120 DPI: 998 x 698 fits", 120, kFrame120, {1024, 768}, 120},
      // 1188 + 10 is too wide; at 122 the client is 1007 wide, at 123 it would be 1015.
      {"1024 x 768 at 144 DPI", 144, kFrame144, {1024, 768}, 122},
      // A 40-pixel taskbar leaves 728 rows: 688 + 38 fit at 124, 694 + 38 do not at 125.
      {"1366 x 768 at 144 DPI with a taskbar", 144, kFrame144, {1366, 728}, 124},
      {"1920 x 1040 at 144 DPI", 144, kFrame144, {1920, 1040}, 144},
      {"640 x 480 at 96 DPI: 627 + 8 wide at 76", 96, kFrame96, {640, 480}, 76},
      {"320 x 240: no smaller than 72", 96, kFrame96, {320, 240}, kMinimumDpi},
      {"a system below 72 is never scaled up", 60, kFrame96, {320, 240}, 60},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FittingDpi(c.systemDpi, c.frame, c.workArea), c.dpi) << c.screen;
}

TEST(Layout, TheWindowIsCentredOnTheScreenButKeptInsideTheWorkArea) {
  struct Case {
    const char* setting;
    Size window;
    Size screen;
    Rect workArea;
    int left, top;
  };
  const Case cases[] = {
      {"no taskbar", {800, 560}, {1024, 768}, {0, 0, 1024, 768}, 112, 104},
      // Centred on the screen, not on the work area, as long as it fits.
      {"taskbar at the bottom", {800, 560}, {1366, 768}, {0, 0, 1366, 728}, 283, 104},
      {"tall taskbar at the top", {800, 560}, {1024, 768}, {0, 200, 1024, 568}, 112, 200},
      {"taskbar on the left", {900, 560}, {1024, 768}, {100, 0, 924, 768}, 100, 104},
      // Longer than the work area: the caption stays reachable at its top.
      {"taller than the work area", {1017, 715}, {1024, 768}, {0, 0, 1024, 700}, 3, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PlaceWindow(c.window, c.screen, c.workArea),
              (Rect{c.left, c.top, c.window.width, c.window.height}))
        << c.setting;
  }
}

TEST(Layout, ClampedToTheScreenAt144DpiTheButtonsWouldCoverTheOptions) {
  // The client area that a 1024 x 768 screen left of the window scaled by 150 %.
  const Size clamped{1028, 744};
  const auto arranged = ArrangeForm(clamped, 144);
  EXPECT_TRUE(
      Overlap(arranged[Index(ControlId::btnRecovery)], arranged[Index(ControlId::GroupBox1)]));
  EXPECT_FALSE(ControlsApart(arranged, clamped));
}

TEST(Layout, TheWindowShrinksOnlyUntilAControlWouldBeCoveredOrCutOff) {
  // At 96 DPI the rule under the logo, which does not stretch, ends 11 pixels inside plTip, and
  // the bottom buttons start 8 pixels below "Boost Option 2".
  EXPECT_EQ(MinimumClientSize(96), (Size{792 - 11, 533 - 8}));

  for (int dpi : {96, 120, 122, 144}) {
    const Size minimum = MinimumClientSize(dpi);
    const Size design = FormClientSize(dpi);
    EXPECT_LT(minimum.width, design.width) << dpi;
    EXPECT_LT(minimum.height, design.height) << dpi;
    for (const Size client :
         {minimum, design, Size{design.width + 300, design.height + 200},
          Size{minimum.width, design.height}, Size{design.width, minimum.height}}) {
      EXPECT_TRUE(ControlsApart(ArrangeForm(client, dpi), client))
          << dpi << ": " << client.width << " x " << client.height;
    }
    // One pixel lower, the buttons reach the options' group; one narrower, the rule is cut off.
    const Size lower{minimum.width, minimum.height - 1};
    const auto low = ArrangeForm(lower, dpi);
    EXPECT_TRUE(Overlap(low[Index(ControlId::btnRecovery)], low[Index(ControlId::GroupBox1)]))
        << dpi;
    const Size narrower{minimum.width - 1, minimum.height};
    const auto narrow = ArrangeForm(narrower, dpi);
    EXPECT_GT(narrow[Index(ControlId::Bevel1)].Right(), narrow[Index(ControlId::plTip)].width)
        << dpi;
    EXPECT_FALSE(ControlsApart(low, lower)) << dpi;
    EXPECT_FALSE(ControlsApart(narrow, narrower)) << dpi;
  }
}

}  // namespace
}  // namespace kestrava
