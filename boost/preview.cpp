#include "boost/preview.h"

#include <exception>

#include "boost/catalogue.h"
#include "boost/os_version.h"
#include "boost/trim.h"
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

std::string BytesText(std::uint64_t bytes) {
  return std::to_string(bytes) + " bytes (" + std::to_string(bytes >> 20) + " MiB)";
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

class Preview {
 public:
  Preview(const BoostPorts& ports, DefragEngine& engine, const PreviewRequest& request,
          const std::function<void(const std::string&)>& progress, const std::atomic<bool>& cancel)
      : ports_(ports), engine_(engine), request_(request), progress_(progress), cancel_(cancel) {
    table_.columns = {"Section", "Name", "Detail", "State", "Start type", "Verdict"};
  }

  ReportTable Run() {
    Services();
    if (!Cancelled()) Memory();
    if (!Cancelled()) GameFolder();
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

  // The services in the order the boost tries them: the ticked options, then the fixed list.
  void Services() {
    OsVersionReport report;
    // Asked without the boost's log lines: a preview writes none of a boost's.
    const bool known = ports_.version->Query(report) == err::kSuccess;
    const int version = known ? ClassifyOsVersion(report) : static_cast<int>(kOsOther);
    if (!HasCatalogue(version)) {
      table_.Add({kServices, "", "", "", "",
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

  // One service's row. The verdict follows the stop's rules: a stopped service is left alone; any
  // other is sent the stop, which Windows refuses to one that does not accept it now (while it is
  // on its way to a state, or when its accepted controls lack the stop); the stop is recorded when
  // it is accepted.
  void Service(const std::string& name) {
    Progress(std::string(kServices) + ": " + name);
    ServiceManagerPort& services = *ports_.services;
    ServiceHandle manager(services);
    WinError error = services.OpenManager("", manager.Put());
    if (error != err::kSuccess) {
      table_.Add({kServices, name, "", "", "", "could not be queried: " + SystemMessage(error)});
      return;
    }
    ServiceHandle service(services);
    error = services.OpenNamedService(manager.Get(), name, svc::kAccessQuery, service.Put());
    if (error == err::kServiceDoesNotExist) {
      table_.Add({kServices, name, "", "", "", "not installed"});
      return;
    }
    if (error != err::kSuccess) {
      table_.Add({kServices, name, "", "", "", "could not be queried: " + SystemMessage(error)});
      return;
    }
    std::string display;
    if (services.DisplayName(manager.Get(), name, &display) != err::kSuccess) display = name;
    ServiceConfig config;
    error = services.QueryConfig(service.Get(), &config);
    const std::string startType = error == err::kSuccess
                                      ? StartTypeText(config.startType)
                                      : "could not be queried: " + SystemMessage(error);
    ServiceStatus status;
    error = services.QueryStatus(service.Get(), &status);
    if (error != err::kSuccess) {
      table_.Add({kServices, name, display, "", startType,
                  "could not be queried: " + SystemMessage(error)});
      return;
    }
    std::string verdict;
    if (status.currentState == svc::kStopped) {
      verdict = "already stopped";
    } else if (status.currentState == svc::kStopPending ||
               status.currentState == svc::kStartPending ||
               (status.controlsAccepted & svc::kAcceptStop) == 0) {
      verdict = "does not accept a stop now";
    } else {
      verdict = "would stop";
    }
    table_.Add({kServices, name, display, StateText(status.currentState), startType, verdict});
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
      table_.Add({kGameFolder, "Volume", "could not be surveyed: " + OneLine(e.what())});
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

  const BoostPorts& ports_;
  DefragEngine& engine_;
  const PreviewRequest& request_;
  const std::function<void(const std::string&)>& progress_;
  const std::atomic<bool>& cancel_;
  ReportTable table_;
};

}  // namespace

ReportTable PreviewBoost(const BoostPorts& ports, DefragEngine& engine,
                         const PreviewRequest& request,
                         const std::function<void(const std::string& line)>& progress,
                         const std::atomic<bool>& cancel) {
  return Preview(ports, engine, request, progress, cancel).Run();
}

}  // namespace kestrava
