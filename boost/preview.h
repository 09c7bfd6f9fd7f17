#pragma once
// What a press of the boost button would do now, found without changing anything on the machine.
// With the mode off, a boost: the memory a trim would work on, the game folder's fragmentation and
// its volume's free space, then the services the boost would try, in its order, each with its
// state, description and a verdict. The steps are walked in the boost's order and each is told
// what the ones before would have done: a folder run that would end the boost leaves every service
// untried, and a service the boost would stop reads as stopped when its name comes again. With the
// mode on (the record holds names), a restore: each recorded name and whether it would start.
// It asks the same catalogue, ports and engine code paths a run uses, opening services with the
// run's own access, in a mode that only reads: it never stops or starts a service, trims a process
// or moves a cluster.
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
