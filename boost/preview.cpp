#include "boost/preview.h"

#include <exception>
#include <set>
#include <vector>

#include "boost/catalogue.h"
#include "boost/os_version.h"
#include "boost/record.h"
#include "boost/trim.h"
#include "common/ascii_fold.h"
#include "common/system_message.h"
#include "common/wide.h"

namespace kestrava {
namespace {

constexpr char kServices[] = "Services";
constexpr char kMemory[] = "Memory";
constexpr char kGameFolder[] = "Game folder";

// The texts of the state of a service, in the order of their codes (1 to 7).
std::string StateText(std::uint32_t state) {
  static const char* const kStates[] = {"stopped", "start pending",    "stop pending",
                                        "running", "continue pending", "pause pending",
                                        "paused"};
  if (state >= 1 && state <= 7) return kStates[state - 1];
  return "state " + std::to_string(state);
}

std::string StartTypeText(std::uint32_t startType) {
  static const char* const kTypes[] = {"boot", "system", "automatic", "manual", "disabled"};
  if (startType <= 4) return kTypes[startType];
  return "start type " + std::to_string(startType);
}

// The megabytes first: where the list cuts the text short, they are what stays on screen.
std::string BytesText(std::uint64_t bytes) {
  return std::to_string(bytes >> 20) + " MiB (" + std::to_string(bytes) + " bytes)";
}

// The name of a Windows version whose code has no services to stop.
std::string VersionText(int version, const OsVersionReport& report) {
  std::string name;
  switch (version) {
    case kOsWin9x: name = "Windows 95, 98 or Me"; break;
    case kOsNt4: name = "Windows NT 4"; break;
    case kOsWin2000: name = "Windows 2000"; break;
    case kOsNt52: name = "Windows Server 2003 or XP x64"; break;
    default: name = "this Windows"; break;
  }
  return name + " (version " + std::to_string(report.major) + "." + std::to_string(report.minor) +
         ")";
}

// A service row's cells, in the order of the table's columns.
struct ServiceRow {
  std::string name, display, state, startType, description, verdict;
  bool disabled = false;  // its start type says so: a start is refused
  std::vector<std::string> Cells() const {
    return {kServices, name, display, state, startType, description, verdict};
  }
};

class Preview {
 public:
  Preview(const BoostPorts& ports, DefragEngine& engine, const PreviewRequest& request,
          const std::function<void(const std::string&)>& progress, const std::atomic<bool>& cancel)
      : ports_(ports), engine_(engine), request_(request), progress_(progress), cancel_(cancel) {
    table_.columns = {"Section", "Name", "Detail", "State", "Start type", "Description", "Verdict"};
    table_.keyColumns = {1, 6};  // Name and Verdict
  }

  ReportTable Run() {
    // A press restores while the record holds names: that is what it would do.
    std::vector<std::string> recorded;
    if (ports_.registry != nullptr) ReadBoostedServices(*ports_.registry, recorded);
    if (recorded.empty()) {
      Boost();
    } else {
      Restore(recorded);
    }
    if (Cancelled()) {
      table_.Add({"Run", "Cancelled",
                  "the preview was cancelled: the rows above are what it had "
                  "found until then"});
    }
    return std::move(table_);
  }

 private:
  bool Checked(OptionBox box) const { return request_.checked[static_cast<std::size_t>(box)]; }
  bool Cancelled() const { return cancel_.load(); }
  void Progress(const std::string& line) {
    if (progress_) progress_(line);
  }

  // The boost's steps in its order, each told what the steps before it would have done.
  void Boost() {
    table_.Add({"Run", "Boost", "what a press of \"Enter Kestrava Mode\" would do now"});
    Memory();
    if (!Cancelled()) GameFolder();
    if (!Cancelled()) Services();
  }

  // The services in the order the boost tries them: the ticked options, then the fixed list.
  void Services() {
    OsVersionReport report;
    // Asked without the boost's log lines: a preview writes none of a boost's.
    const bool known = ports_.version->Query(report) == err::kSuccess;
    const int version = known ? ClassifyOsVersion(report) : static_cast<int>(kOsOther);
    // Each stop writes the record first, and a write that fails ends the boost there.
    if (ports_.registry != nullptr) {
      const WinError blocked = RecordWayBlocked(*ports_.registry);
      if (blocked != err::kSuccess) {
        recordRefusal_ = "the record could not be written: " + SystemMessage(blocked);
      }
    }
    if (!HasCatalogue(version)) {
      table_.Add({kServices, "", "", "", "", "",
                  "no service would be stopped: " +
                      (known ? VersionText(version, report) + " has no list of services to stop"
                             : std::string("the Windows version could not be read"))});
      return;
    }
    for (const CatalogueOption& option : kCatalogueOptions) {
      if (!Checked(option.box)) continue;
      const std::string name = OptionService(option, version);
      if (!name.empty()) Service(name);  // the boost tries no service for an empty name
      if (Cancelled()) return;
    }
    for (const char* name : FixedServices(version)) {
      Service(name);
      if (Cancelled()) return;
    }
  }

  // One service's row, its verdict decided as the stop decides it, on the machine as the boost
  // would have left it by then: a stopped service is left alone; any other is sent the stop, which
  // Windows refuses to one that does not accept it now (on its way to a state, or its accepted
  // controls lack the stop) and to one that services still running depend on.
  void Service(const std::string& name) {
    Progress(std::string(kServices) + ": " + name);
    ServiceRow row = Look(name);
    const std::string key = FoldAsciiLower(name);
    if (!endedEarly_.empty()) {
      row.verdict = "not tried: the boost would end early: " + endedEarly_;
    } else if (stoppedByThen_.count(key) != 0) {
      row.verdict = "already stopped by then";
    } else {
      row.verdict = StopVerdict(name);
      if (row.verdict == kWouldStop) stoppedByThen_.insert(key);
    }
    table_.Add(row.Cells());
  }

  // What can be read of a service without the right to change anything: its display name, start
  // type, description and state. A service that cannot be looked at leaves its cells empty.
  ServiceRow Look(const std::string& name) {
    ServiceRow row;
    row.name = name;
    ServiceManagerPort& services = *ports_.services;
    ServiceHandle manager(services);
    if (services.OpenManager("", manager.Put()) != err::kSuccess) return row;
    ServiceHandle service(services);
    if (services.OpenNamedService(manager.Get(), name, svc::kAccessQuery, service.Put()) !=
        err::kSuccess) {
      return row;
    }
    if (services.DisplayName(manager.Get(), name, &row.display) != err::kSuccess) {
      row.display = name;
    }
    ServiceConfig config;
    const WinError error = services.QueryConfig(service.Get(), &config);
    row.startType = error == err::kSuccess ? StartTypeText(config.startType)
                                           : "could not be queried: " + SystemMessage(error);
    row.disabled = error == err::kSuccess && config.startType == kStartDisabled;
    if (services.Description(service.Get(), &row.description) != err::kSuccess) {
      row.description.clear();
    }
    ServiceStatus status;
    if (services.QueryStatus(service.Get(), &status) == err::kSuccess) {
      row.state = StateText(status.currentState);
    }
    return row;
  }

  // Connects and opens name with access, as the boost or the restore itself would; the verdict
  // when that already fails, else "" with manager and service open.
  std::string OpenAsTheRunWould(const std::string& name, std::uint32_t access,
                                ServiceHandle& manager, ServiceHandle& service) {
    ServiceManagerPort& services = *ports_.services;
    WinError error = services.OpenManager("", manager.Put());
    if (error != err::kSuccess) return "would be refused: " + SystemMessage(error);
    error = services.OpenNamedService(manager.Get(), name, access, service.Put());
    if (error == err::kServiceDoesNotExist) return "not installed";
    if (error != err::kSuccess) return "would be refused: " + SystemMessage(error);
    return "";
  }

  // The stop's own steps up to the control it would send, with the stop's access.
  std::string StopVerdict(const std::string& name) {
    ServiceManagerPort& services = *ports_.services;
    ServiceHandle manager(services), service(services);
    const std::string opened = OpenAsTheRunWould(name, svc::kAccessStop, manager, service);
    if (!opened.empty()) return opened;
    ServiceStatus status;
    const WinError error = services.QueryStatus(service.Get(), &status);
    if (error == err::kSuccess && status.currentState == svc::kStopped) return "already stopped";
    // The boost records the service before it sends the stop; a record it cannot write ends it.
    if (!recordRefusal_.empty()) {
      endedEarly_ = recordRefusal_;
      return "would not be stopped: " + recordRefusal_;
    }
    // The boost sends the stop to a service whose state it cannot read: what follows is unknown.
    if (error != err::kSuccess) return "could not be queried: " + SystemMessage(error);
    if (status.currentState == svc::kStopPending || status.currentState == svc::kStartPending ||
        (status.controlsAccepted & svc::kAcceptStop) == 0) {
      return "does not accept a stop now";
    }
    const std::string dependent = RunningDependent(manager.Get(), name);
    if (!dependent.empty()) return "would be refused: " + dependent + " depends on it";
    return kWouldStop;
  }

  // The display name of a service that needs this one and would still run when the boost comes
  // to it (one the boost stops earlier no longer counts); "" when there is none, or when the
  // dependents cannot be read.
  std::string RunningDependent(ServiceManagerPort::Handle manager, const std::string& name) {
    ServiceManagerPort& services = *ports_.services;
    ServiceHandle service(services);
    if (services.OpenNamedService(manager, name, svc::kAccessQuery, service.Put()) !=
        err::kSuccess) {
      return "";
    }
    std::vector<DependentService> dependents;
    if (services.ActiveDependents(service.Get(), &dependents) != err::kSuccess) return "";
    for (const DependentService& dependent : dependents) {
      if (stoppedByThen_.count(FoldAsciiLower(dependent.name)) != 0) continue;
      return dependent.display.empty() ? dependent.name : dependent.display;
    }
    return "";
  }

  // What a press in boost mode does: each recorded name, by the restore's rules.
  void Restore(const std::vector<std::string>& recorded) {
    table_.Add({"Run", "Restore",
                "the record holds " + std::to_string(recorded.size()) +
                    (recorded.size() == 1 ? " service" : " services") +
                    ": a press of \"Quit Kestrava Mode\" starts them again and clears the "
                    "record"});
    const int version = RestoreVersion();
    for (const std::string& name : recorded) {
      Progress(std::string(kServices) + ": " + name);
      ServiceRow row;
      row.name = name;
      if (!IsCatalogueService(version, name)) {
        // Nothing is asked of a name that is no service of ours.
        row.verdict = "not started: not a service this program stops";
      } else {
        row = Look(name);
        row.verdict = StartVerdict(name, row);
      }
      table_.Add(row.Cells());
      if (Cancelled()) return;
    }
  }

  int RestoreVersion() {
    OsVersionReport report;
    if (ports_.version->Query(report) != err::kSuccess) return kOsOther;
    return ClassifyOsVersion(report);
  }

  // The start's own steps up to the request it would send, with the start's access.
  std::string StartVerdict(const std::string& name, const ServiceRow& row) {
    ServiceManagerPort& services = *ports_.services;
    ServiceHandle manager(services), service(services);
    const std::string opened = OpenAsTheRunWould(name, svc::kAccessStart, manager, service);
    if (!opened.empty()) return opened;
    ServiceStatus status;
    if (services.QueryStatus(service.Get(), &status) == err::kSuccess &&
        status.currentState == svc::kRunning) {
      return "already running";
    }
    if (row.disabled) {
      return "would be refused: " + SystemMessage(err::kServiceDisabled);
    }
    return "would start";
  }

  void Memory() {
    if (!Checked(OptionBox::chkDefragMem)) {
      table_.Add({kMemory, "Working sets", "not trimmed: the box is not ticked"});
    } else {
      Progress(std::string(kMemory) + ": working sets");
      // As the boost does before it trims, so that the processes counted are those it reaches.
      if (ports_.privileges) EnablePrivilege(*ports_.privileges, "SeDebugPrivilege");
      WorkingSetTotal total;
      if (SumTrimmableWorkingSets(*ports_.processes, total, [this] { return Cancelled(); })) {
        table_.Add({kMemory, "Processes whose working sets would be trimmed",
                    std::to_string(total.processes)});
        table_.Add({kMemory, "Their working sets", BytesText(total.bytes)});
      } else {
        table_.Add({kMemory, "Processes whose working sets would be trimmed",
                    "the process list could not be read"});
      }
    }
    if (ports_.memory == nullptr) return;
    std::uint64_t available = 0;
    const WinError error = ports_.memory->AvailablePhysical(&available);
    table_.Add({kMemory, "Available physical memory",
                error == err::kSuccess ? BytesText(available)
                                       : "could not be read: " + SystemMessage(error)});
  }

  void GameFolder() {
    if (!Checked(OptionBox::chkDefragGamePath)) {
      table_.Add({kGameFolder, "", "not defragmented: the box is not ticked"});
      return;
    }
    if (request_.gamePath.empty()) {
      table_.Add({kGameFolder, "", "not defragmented: no folder is given"});
      return;
    }
    const std::string& folder = request_.gamePath;
    table_.Add({kGameFolder, "Folder", folder});
    if (ports_.privileges) {
      EnablePrivilege(*ports_.privileges, "SeRestorePrivilege");
      EnablePrivilege(*ports_.privileges, "SeBackupPrivilege");
    }
    engine_.OnProgress = [this](DefragEngine&, bool& abort, const std::wstring& fileName) {
      Progress(std::string(kGameFolder) + ": " + WideToAnsi(fileName));
      abort = Cancelled();
    };
    engine_.OnSkipFile = nullptr;
    FolderSurvey survey;
    bool surveyed = false;
    try {
      surveyed = engine_.SurveyFolder(folder, false, survey);
    } catch (const std::exception& e) {
      // The folder run raises where the survey does, and that ends the boost before its services.
      endedEarly_ = OneLine(e.what());
      table_.Add({kGameFolder, "Volume", "could not be surveyed: " + endedEarly_});
      return;
    }
    if (!surveyed) {
      table_.Add({kGameFolder, "Volume", "could not be surveyed"});
      return;
    }
    table_.Add({kGameFolder, "Items", std::to_string(survey.items)});
    table_.Add({kGameFolder, "Fragmented items", std::to_string(survey.fragmented)});
    table_.Add({kGameFolder, "Clusters of the fragmented items",
                std::to_string(survey.fragmentedClusters)});
    table_.Add({kGameFolder, "Free clusters", std::to_string(survey.freeClusters)});
    table_.Add(
        {kGameFolder, "Largest free run", std::to_string(survey.largestFreeRun) + " clusters"});
    const char* seek = "unknown: Windows cannot say";
    if (survey.seekPenalty == SeekPenalty::kNone) {
      seek = "none: a solid-state disk, where defragmenting brings no speed";
    } else if (survey.seekPenalty == SeekPenalty::kIncurs) {
      seek = "yes: a disk that seeks";
    }
    table_.Add({kGameFolder, "Seek penalty", seek});
  }

  static constexpr char kWouldStop[] = "would stop";
  static constexpr std::uint32_t kStartDisabled = 4;

  const BoostPorts& ports_;
  DefragEngine& engine_;
  const PreviewRequest& request_;
  const std::function<void(const std::string&)>& progress_;
  const std::atomic<bool>& cancel_;
  ReportTable table_;
  // What the walk carries from step to step: why the boost would have ended by now ("" while it
  // goes on), and the services it would have stopped by now (key names, folded).
  std::string endedEarly_;
  std::string recordRefusal_;  // why the record would not be written; "" when nothing shows it
  std::set<std::string> stoppedByThen_;
};

}  // namespace

ReportTable PreviewBoost(const BoostPorts& ports, DefragEngine& engine,
                         const PreviewRequest& request,
                         const std::function<void(const std::string& line)>& progress,
                         const std::atomic<bool>& cancel) {
  return Preview(ports, engine, request, progress, cancel).Run();
}

}  // namespace kestrava
