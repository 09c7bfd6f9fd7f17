#include "app/layout.h"

#include <gtest/gtest.h>

#include <cstddef>

namespace kestrava {
namespace {

std::size_t Index(ControlId id) { return static_cast<std::size_t>(id); }

bool Inside(const Rect& inner, Size outer) {
  return inner.left >= 0 && inner.top >= 0 && inner.Right() <= outer.width && inner.Bottom() <= outer.height;
}

bool Overlap(const Rect& a, const Rect& b) {
  return a.left < b.Right() && b.left < a.Right() && a.top < b.Bottom() && b.top < a.Bottom();
}

TEST(Layout, ScalingRoundsToTheNearestPixel) {
  EXPECT_EQ(ScaleLength(12, 96), 12);
  EXPECT_EQ(ScaleLength(12, 120), 15);
  EXPECT_EQ(ScaleLength(12, 144), 18);
  EXPECT_EQ(ScaleLength(2, 120), 3);   // 2.5
  EXPECT_EQ(ScaleLength(1, 120), 1);   // 1.25
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
  EXPECT_EQ(AnchorRect(r, design, bigger, kAnchorLeft | kAnchorTop | kAnchorRight), (Rect{10, 20, 150, 30}));
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
        EXPECT_FALSE(Overlap(controls[j].bounds, entry.bounds)) << controls[j].name << " / " << entry.name;
      }
    }
  }
}

TEST(Layout, AtDesignSizeEveryControlStaysWhereItWasDesigned) {
  const auto arranged = ArrangeForm(kFormClientSize, 96);
  for (const ControlSpec& entry : FormControls()) EXPECT_EQ(arranged[Index(entry.id)], entry.bounds) << entry.name;
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
  EXPECT_EQ(delta(ControlId::chkStopPrinterSupport), (Rect{}));
  EXPECT_EQ(delta(ControlId::btnOpen), (Rect{}));
}

TEST(Layout, AtAnotherDpiTheWholeWindowScalesAlike) {
  for (int dpi : {120, 144}) {
    const Rect client = ScaleRect({0, 0, kFormClientSize.width, kFormClientSize.height}, dpi);
    const auto arranged = ArrangeForm({client.width, client.height}, dpi);
    for (const ControlSpec& entry : FormControls()) {
      EXPECT_EQ(arranged[Index(entry.id)], ScaleRect(entry.bounds, dpi)) << entry.name << " at " << dpi;
    }
    // Nested anchoring works in scaled units: growing the scaled window moves the Close button
    // by exactly the growth.
    const auto grown = ArrangeForm({client.width + 40, client.height + 30}, dpi);
    EXPECT_EQ(grown[Index(ControlId::btnClose)].left, arranged[Index(ControlId::btnClose)].left + 40);
    EXPECT_EQ(grown[Index(ControlId::btnClose)].top, arranged[Index(ControlId::btnClose)].top + 30);
  }
}

}  // namespace
}  // namespace kestrava
