#pragma once
// The main window's controls: kind, parent, bounds at 96 DPI, anchors and fixed captions, in
// creation order, plus the arithmetic that scales them to the screen's DPI and keeps them anchored
// when the window is resized. The service options' come from the option table
// (boost/boost_option.h). Windows-free, so that the geometry is testable anywhere.
#include <array>
#include <cstddef>

#include "boost/boost_option.h"

namespace kestrava {

struct Rect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  int Right() const { return left + width; }
  int Bottom() const { return top + height; }
  bool operator==(const Rect& o) const {
    return left == o.left && top == o.top && width == o.width && height == o.height;
  }
};

struct Size {
  int width = 0;
  int height = 0;
  bool operator==(const Size& o) const { return width == o.width && height == o.height; }
};

// The edges of its parent that a control keeps its distance to. Left and right together
// stretch the control with its parent; neither keeps its centre at the same proportion.
enum Anchor : unsigned {
  kAnchorLeft = 1,
  kAnchorTop = 2,
  kAnchorRight = 4,
  kAnchorBottom = 8,
};
using Anchors = unsigned;
inline constexpr Anchors kAnchorsDefault = kAnchorLeft | kAnchorTop;
inline constexpr Anchors kAnchorsAll = kAnchorLeft | kAnchorTop | kAnchorRight | kAnchorBottom;

enum class ControlKind { Panel, Label, Bevel, Image, PushButton, GroupBox, CheckBox, Edit };

// The controls in creation order. Siblings are created in their tab order, which is also the
// order in which the Tab key visits them.
enum class ControlId {
  plTip,
  lblTips,
  Bevel1,
  Image1,
  btnRecovery,
  GroupBox1,
  // The twelve service options of GroupBox1 follow, each at FirstServiceOption plus its tabIndex in
  // kBoostOptions; OptionControl finds a box's.
  FirstServiceOption,
  GroupBox2 = FirstServiceOption + static_cast<int>(kServiceOptionCount),
  chkDefragGamePath,
  chkDefragMem,
  edtGamePath,
  btnOpen,
  btnClose,
  Count,
  Form = Count,  // the parent of plTip: the window's client area
};
inline constexpr std::size_t kControlCount = static_cast<std::size_t>(ControlId::Count);

struct ControlSpec {
  ControlId id;
  const char* name;
  ControlKind kind;
  ControlId parent;
  Rect bounds;  // at 96 DPI, relative to the parent's client area
  Anchors anchors;
  const char* caption;  // nullptr: set at run time
  bool checked;         // check boxes: state at start
};

// Every control of the window, indexed by ControlId.
const std::array<ControlSpec, kControlCount>& FormControls();
const ControlSpec& FormControl(ControlId id);

// The check box of one of the boxes the worker reads: the window hands the worker, and a preview,
// the state of this control for the box.
ControlId OptionControl(OptionBox box);

// The window's client area at 96 DPI.
inline constexpr Size kFormClientSize{792, 533};
// The right edge of status panel 0; panel 1 runs to the right edge of the window.
inline constexpr int kStatusPanel0Width = 600;
// Arial at this character height (not cell height), at 96 DPI.
inline constexpr int kFontCharHeight = 12;
inline constexpr int kDesignDpi = 96;

// Below this scale Arial at kFontCharHeight becomes hard to read: on a screen too small even for
// it the window is laid out at this scale and left to the system to clamp.
inline constexpr int kMinimumDpi = 72;

// A length at 96 DPI converted to dpi, rounded to the nearest pixel.
int ScaleLength(int length, int dpi);
// Scales the edges rather than the sizes, so that controls that touch at 96 DPI still touch.
Rect ScaleRect(const Rect& rect, int dpi);

// Where a control with the given bounds inside a parent of designParent size goes once the parent
// is parent size. Sizes never become negative.
Rect AnchorRect(const Rect& bounds, Size designParent, Size parent, Anchors anchors);

// The bounds of every control, indexed by ControlId, for a window whose client area is client
// at the given DPI.
std::array<Rect, kControlCount> ArrangeForm(Size client, int dpi);

// The client area of the window as designed, at dpi.
Size FormClientSize(int dpi);

// The DPI to lay the window out at: the system's, unless the window would then not fit the work
// area; then the highest below it at which it does (kMinimumDpi at the lowest). frame is what the
// borders and the caption add to the client area. Fonts must scale by the same DPI.
int FittingDpi(int systemDpi, Size frame, Size workArea);

// The top-left corner of a window of the given size: centred on the screen, then moved as little as
// needed to lie inside the work area (a taskbar may cover part of the screen).
Rect PlaceWindow(Size window, Size screen, const Rect& workArea);

// True when every control of arranged has a size, lies wholly inside its parent (the client area
// for plTip) and overlaps none of its siblings: everything can be seen and clicked.
bool ControlsApart(const std::array<Rect, kControlCount>& arranged, Size client);

// The smallest client area at dpi at which the anchored controls are still apart: shrinking the
// window further would slide the bottom buttons over the options or cut controls off at the right.
Size MinimumClientSize(int dpi);

}  // namespace kestrava
