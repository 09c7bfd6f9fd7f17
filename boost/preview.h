#pragma once
// What a press of "Enter Kestrava Mode" would do now, found without changing anything on the
// machine: the services the boost would try, in its order, with their state and a verdict; the
// memory a trim would work on; and the game folder's fragmentation and its volume's free space.
// It asks the same catalogue, ports and engine code paths a boost uses, in a mode that only
// reads: it never stops or starts a service, trims a process or moves a cluster.
#include <array>
#include <atomic>
#include <functional>
#include <string>

#include "boost/boost_ports.h"
#include "boost/boost_window.h"
#include "boost/defrag_engine.h"
#include "boost/report_table.h"

namespace kestrava {

// The window as it was when the preview was asked for.
struct PreviewRequest {
  std::array<bool, kOptionBoxCount> checked{};  // indexed by OptionBox
  std::string gamePath;                         // edtGamePath exactly as typed
};

// Runs on a thread of its own. progress gets a short line of what is being looked at now;
// cancel, once true, ends the preview at its next step with what it has found so far.
ReportTable PreviewBoost(const BoostPorts& ports, DefragEngine& engine,
                         const PreviewRequest& request,
                         const std::function<void(const std::string& line)>& progress,
                         const std::atomic<bool>& cancel);

}  // namespace kestrava
