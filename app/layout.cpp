#include "app/layout.h"

#include <algorithm>

namespace kestrava {
namespace {

constexpr Anchors kLeftTopRight = kAnchorLeft | kAnchorTop | kAnchorRight;
constexpr Anchors kRightBottom = kAnchorRight | kAnchorBottom;

// The service options stand in two columns of "Boost Option 2".
constexpr int kRightColumn = 390;
constexpr int kRightColumnWidth = 324;
constexpr int kLeftColumn = 12;
constexpr int kLeftColumnWidth = 355;
constexpr int kOptionHeight = 17;

constexpr std::size_t Index(ControlId id) { return static_cast<std::size_t>(id); }

constexpr ControlId ServiceOptionControl(const BoostOption& option) {
  return static_cast<ControlId>(static_cast<int>(ControlId::FirstServiceOption) + option.tabIndex);
}

constexpr ControlSpec ServiceOptionSpec(const BoostOption& option) {
  const bool right = option.column == OptionColumn::Right;
  return {ServiceOptionControl(option),
          option.name,
          ControlKind::CheckBox,
          ControlId::GroupBox1,
          {right ? kRightColumn : kLeftColumn, option.top,
           right ? kRightColumnWidth : kLeftColumnWidth, kOptionHeight},
          kAnchorsDefault,
          option.caption,
          true};
}

using K = ControlKind;
using C = ControlId;

// Every control but the service options.
constexpr ControlSpec kFixedControls[] = {
    {C::plTip, "plTip", K::Panel, C::Form, {7, 5, 777, 502}, kAnchorsAll, "", false},
    {C::lblTips, "lblTips", K::Label, C::plTip, {208, 16, 552, 68}, kLeftTopRight, nullptr, false},
    {C::Bevel1, "Bevel1", K::Bevel, C::plTip, {8, 101, 758, 2}, kAnchorsDefault, "", false},
    {C::Image1, "Image1", K::Image, C::plTip, {16, 14, 185, 70}, kAnchorsDefault, "", false},
    {C::btnRecovery,
     "btnRecovery",
     K::PushButton,
     C::plTip,
     {403, 468, 225, 25},
     kRightBottom,
     nullptr,
     false},
    {C::GroupBox1,
     "GroupBox1",
     K::GroupBox,
     C::plTip,
     {15, 235, 751, 225},
     kLeftTopRight,
     "Boost Option 2",
     false},
    {C::GroupBox2,
     "GroupBox2",
     K::GroupBox,
     C::plTip,
     {14, 118, 751, 109},
     kLeftTopRight,
     "Boost Option 1",
     false},
    {C::chkDefragGamePath,
     "chkDefragGamePath",
     K::CheckBox,
     C::GroupBox2,
     {16, 45, 686, 17},
     kAnchorsDefault,
     "Defrag the path of the game:",
     false},
    {C::chkDefragMem,
     "chkDefragMem",
     K::CheckBox,
     C::GroupBox2,
     {16, 20, 686, 17},
     kAnchorsDefault,
     "Defrag the memory",
     true},
    {C::edtGamePath,
     "edtGamePath",
     K::Edit,
     C::GroupBox2,
     {16, 74, 606, 23},
     kAnchorsDefault,
     "",
     false},
    {C::btnOpen,
     "btnOpen",
     K::PushButton,
     C::GroupBox2,
     {630, 74, 92, 21},
     kAnchorsDefault,
     nullptr,
     false},
    {C::btnClose,
     "btnClose",
     K::PushButton,
     C::plTip,
     {635, 468, 129, 24},
     kRightBottom,
     nullptr,
     false},
};

constexpr std::array<ControlSpec, kControlCount> MakeControls() {
  std::array<ControlSpec, kControlCount> controls{};
  for (const ControlSpec& entry : kFixedControls) controls[Index(entry.id)] = entry;
  for (const BoostOption& option : kBoostOptions) {
    const ControlSpec entry = ServiceOptionSpec(option);
    controls[Index(entry.id)] = entry;
  }
  return controls;
}

constexpr std::array<ControlSpec, kControlCount> kControls = MakeControls();

// Each slot holds the control of its own id: no control is missing and none is there twice.
constexpr bool EverySlotFilled() {
  for (std::size_t i = 0; i < kControls.size(); ++i) {
    if (kControls[i].name == nullptr || Index(kControls[i].id) != i) return false;
  }
  return true;
}
static_assert(EverySlotFilled(), "one control per ControlId");

// One axis of AnchorRect: position and length along it, and whether each end is anchored.
void AnchorAxis(int& position, int& length, int designParent, int parent, bool nearEdge,
                bool farEdge) {
  const int growth = parent - designParent;
  if (nearEdge && farEdge) {
    length = std::max(0, length + growth);
  } else if (farEdge) {
    position += growth;
  } else if (!nearEdge && designParent > 0) {
    // The centre keeps its proportion of the parent.
    const long long centreTimesTwo = 2LL * position + length;
    position = static_cast<int>(centreTimesTwo * parent / designParent / 2) - length / 2;
  }
}

bool Inside(const Rect& inner, Size outer) {
  return inner.left >= 0 && inner.top >= 0 && inner.Right() <= outer.width &&
         inner.Bottom() <= outer.height;
}

bool Overlap(const Rect& a, const Rect& b) {
  return a.left < b.Right() && b.left < a.Right() && a.top < b.Bottom() && b.top < a.Bottom();
}

// One axis of PlaceWindow: centred on the screen as before, then clamped into [low, high). When
// the window is longer than the work area its near edge (the caption's) stays on the screen.
int PlaceAxis(int length, int screen, int low, int high) {
  const int centred = std::max(0, (screen - length) / 2);
  return std::max(low, std::min(centred, high - length));
}

}  // namespace

const std::array<ControlSpec, kControlCount>& FormControls() { return kControls; }

const ControlSpec& FormControl(ControlId id) { return kControls[Index(id)]; }

ControlId OptionControl(OptionBox box) {
  switch (box) {
    case OptionBox::chkDefragMem: return ControlId::chkDefragMem;
    case OptionBox::chkDefragGamePath: return ControlId::chkDefragGamePath;
    default: break;
  }
  const BoostOption* option = FindBoostOption(box);
  return option != nullptr ? ServiceOptionControl(*option) : ControlId::Count;
}

int ScaleLength(int length, int dpi) {
  const long long product = static_cast<long long>(length) * dpi;
  const long long half = kDesignDpi / 2;
  return static_cast<int>(product >= 0 ? (product + half) / kDesignDpi
                                       : -((-product + half) / kDesignDpi));
}

Rect ScaleRect(const Rect& rect, int dpi) {
  const int left = ScaleLength(rect.left, dpi);
  const int top = ScaleLength(rect.top, dpi);
  return {left, top, ScaleLength(rect.Right(), dpi) - left, ScaleLength(rect.Bottom(), dpi) - top};
}

Rect AnchorRect(const Rect& bounds, Size designParent, Size parent, Anchors anchors) {
  Rect result = bounds;
  AnchorAxis(result.left, result.width, designParent.width, parent.width, anchors & kAnchorLeft,
             anchors & kAnchorRight);
  AnchorAxis(result.top, result.height, designParent.height, parent.height, anchors & kAnchorTop,
             anchors & kAnchorBottom);
  return result;
}

Size FormClientSize(int dpi) {
  const Rect scaled = ScaleRect({0, 0, kFormClientSize.width, kFormClientSize.height}, dpi);
  return {scaled.width, scaled.height};
}

std::array<Rect, kControlCount> ArrangeForm(Size client, int dpi) {
  std::array<Rect, kControlCount> arranged{};
  const Size scaledForm = FormClientSize(dpi);
  for (const ControlSpec& entry : kControls) {
    Size designParent = scaledForm;
    Size parent = client;
    if (entry.parent != ControlId::Form) {
      const Rect scaledParent = ScaleRect(FormControl(entry.parent).bounds, dpi);
      const Rect& parentNow = arranged[static_cast<std::size_t>(entry.parent)];
      designParent = {scaledParent.width, scaledParent.height};
      parent = {parentNow.width, parentNow.height};
    }
    arranged[static_cast<std::size_t>(entry.id)] =
        AnchorRect(ScaleRect(entry.bounds, dpi), designParent, parent, entry.anchors);
  }
  return arranged;
}

int FittingDpi(int systemDpi, Size frame, Size workArea) {
  const int lowest = std::min(systemDpi, kMinimumDpi);
  for (int dpi = systemDpi; dpi > lowest; --dpi) {
    const Size client = FormClientSize(dpi);
    if (client.width + frame.width <= workArea.width &&
        client.height + frame.height <= workArea.height) {
      return dpi;
    }
  }
  return lowest;
}

Rect PlaceWindow(Size window, Size screen, const Rect& workArea) {
  return {PlaceAxis(window.width, screen.width, workArea.left, workArea.Right()),
          PlaceAxis(window.height, screen.height, workArea.top, workArea.Bottom()), window.width,
          window.height};
}

bool ControlsApart(const std::array<Rect, kControlCount>& arranged, Size client) {
  for (const ControlSpec& entry : kControls) {
    const Rect& bounds = arranged[static_cast<std::size_t>(entry.id)];
    Size parent = client;
    if (entry.parent != ControlId::Form) {
      const Rect& parentBounds = arranged[static_cast<std::size_t>(entry.parent)];
      parent = {parentBounds.width, parentBounds.height};
    }
    if (bounds.width <= 0 || bounds.height <= 0 || !Inside(bounds, parent)) return false;
    // Each pair once: against the siblings created before it.
    for (const ControlSpec& earlier : kControls) {
      if (earlier.id == entry.id) break;
      if (earlier.parent == entry.parent &&
          Overlap(arranged[static_cast<std::size_t>(earlier.id)], bounds)) {
        return false;
      }
    }
  }
  return true;
}

Size MinimumClientSize(int dpi) {
  // With these anchors shrinking only brings controls closer together, so the first size that
  // fails ends each search. Heights are tried at the minimum width already found, so that the
  // two together are a size at which the controls are apart.
  auto apart = [dpi](Size client) { return ControlsApart(ArrangeForm(client, dpi), client); };
  Size minimum = FormClientSize(dpi);
  const int designHeight = minimum.height;
  while (minimum.width > 1 && apart({minimum.width - 1, designHeight})) --minimum.width;
  while (minimum.height > 1 && apart({minimum.width, minimum.height - 1})) --minimum.height;
  return minimum;
}

}  // namespace kestrava
