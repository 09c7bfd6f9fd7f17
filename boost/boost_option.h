#pragma once
// The check boxes a boost reads, and the one description of each of the twelve service options of
// "Boost Option 2": its control's name and caption, its place on the window and the service it
// stops on each Windows version. The window's layout, the window's mapping of boxes to controls
// and the service catalogue all read kBoostOptions; nothing else spells an option out, so the
// three cannot drift apart.
#include <array>
#include <cstddef>

namespace kestrava {

// The check boxes the worker reads, named after their controls: the two of "Boost Option 1",
// then the twelve service options in the order a boost visits them (the order of kBoostOptions).
enum class OptionBox {
  chkDefragMem,
  chkDefragGamePath,
  chkStopLanView,
  chkStopKeyboardHotkey,
  chkStopPrinterSupport,
  chkStopLanshare,
  chkStopAeroEffect,
  chkStopTasks,
  chkStopTabletInput,
  chkStopProxyAutoDetect,
  chkStopAppCache,
  chkStopShareMedia,
  chkStopWindowsUpdate,
  chkStopScanner,
  Count,
};
inline constexpr std::size_t kOptionBoxCount = static_cast<std::size_t>(OptionBox::Count);

// The two columns of "Boost Option 2"; the layout knows where each stands.
enum class OptionColumn { Left, Right };

struct BoostOption {
  OptionBox box;
  const char* name;     // the control's name
  const char* caption;  // the box's text, exactly as the window shows it
  OptionColumn column;
  int top;       // in "Boost Option 2", at 96 DPI
  int tabIndex;  // its place among the twelve when the Tab key walks the window
  // The service it stops on XP, Vista and Seven; "" where the option has none on that version.
  const char* xp;
  const char* vista;
  const char* seven;
};

inline constexpr std::size_t kServiceOptionCount = 12;

// The twelve service options in the order a boost visits them, which is not the order of the
// boxes on the window (that is tabIndex). All twelve are ticked when the window opens.
inline constexpr std::array<BoostOption, kServiceOptionCount> kBoostOptions{{
    {OptionBox::chkStopLanView, "chkStopLanView", "Stop Network Neiborhood", OptionColumn::Right,
     158, 4, "Browser", "Browser", "Browser"},
    {OptionBox::chkStopKeyboardHotkey, "chkStopKeyboardHotkey", "Stop Keyboard Hotkey",
     OptionColumn::Left, 25, 6, "hidserv", "hidserv", "hidserv"},
    {OptionBox::chkStopPrinterSupport, "chkStopPrinterSupport", "Stop Printer Support",
     OptionColumn::Right, 25, 0, "Spooler", "Spooler", "Spooler"},
    {OptionBox::chkStopLanshare, "chkStopLanshare", "Stop Network Share", OptionColumn::Left, 58, 7,
     "LanmanServer", "LanmanServer", "LanmanServer"},
    {OptionBox::chkStopAeroEffect, "chkStopAeroEffect", "Stop Aero Glass effect(Vista, Win7only)",
     OptionColumn::Right, 58, 1, "", "UxSms", "UxSms"},
    {OptionBox::chkStopTasks, "chkStopTasks", "Stop scheduled tasks", OptionColumn::Left, 91, 8,
     "Schedule", "Schedule", "Schedule"},
    {OptionBox::chkStopTabletInput, "chkStopTabletInput",
     "Stop tablet input support(Vista, Win7 only)", OptionColumn::Right, 91, 2, "",
     "TabletInputService", "TabletInputService"},
    {OptionBox::chkStopProxyAutoDetect, "chkStopProxyAutoDetect", "Stop Proxy Auto-discovery",
     OptionColumn::Left, 192, 9, "", "WinHttpAutoProxySvc", "WinHttpAutoProxySvc"},
    {OptionBox::chkStopAppCache, "chkStopAppCache", "Stop application compatibility cache",
     OptionColumn::Right, 125, 3, "", "AeLookupSvc", "AeLookupSvc"},
    {OptionBox::chkStopShareMedia, "chkStopShareMedia", "Stop sharing media to other media devices",
     OptionColumn::Left, 158, 10, "", "WMPNetworkSvc", "WMPNetworkSvc"},
    {OptionBox::chkStopWindowsUpdate, "chkStopWindowsUpdate", "Stop Windows Update",
     OptionColumn::Left, 125, 11, "BITS", "BITS", "BITS"},
    {OptionBox::chkStopScanner, "chkStopScanner", "Stop Graphics Scanner and other Device",
     OptionColumn::Right, 192, 5, "StiSvc", "StiSvc", "StiSvc"},
}};

// The row of a service option's box; nullptr for the two boxes of "Boost Option 1".
constexpr const BoostOption* FindBoostOption(OptionBox box) {
  for (const BoostOption& option : kBoostOptions) {
    if (option.box == box) return &option;
  }
  return nullptr;
}

namespace option_checks {

// Each service box has exactly one row, in the order of OptionBox, and each place in the Tab
// order is taken once: the layout fills one slot per tabIndex.
constexpr bool RowsFollowTheBoxes() {
  for (std::size_t i = 0; i < kBoostOptions.size(); ++i) {
    if (static_cast<std::size_t>(kBoostOptions[i].box) !=
        static_cast<std::size_t>(OptionBox::chkStopLanView) + i) {
      return false;
    }
  }
  return static_cast<std::size_t>(OptionBox::chkStopLanView) + kServiceOptionCount ==
         kOptionBoxCount;
}
constexpr bool TabOrderIsAPermutation() {
  for (std::size_t place = 0; place < kServiceOptionCount; ++place) {
    int holders = 0;
    for (const BoostOption& option : kBoostOptions) {
      if (option.tabIndex == static_cast<int>(place)) ++holders;
    }
    if (holders != 1) return false;
  }
  return true;
}
static_assert(RowsFollowTheBoxes(), "one row per service box, in the order of OptionBox");
static_assert(TabOrderIsAPermutation(), "each of the twelve places in the Tab order taken once");

}  // namespace option_checks

}  // namespace kestrava
