#include "boost/thread_boost.h"

#include "boost/catalogue.h"
#include "boost/record.h"
#include "boost/trim.h"
#include "boost/os_version.h"
#include "boost/privilege_port.h"
#include "common/thread.h"
#include "common/wide.h"

namespace kestrava {
namespace {

bool HasCatalogue(int versionCode) {
  return versionCode == kOsXP || versionCode == kOsVista || versionCode == kOsSeven;
}

class NothingToDefrag final : public DefragEngine {
 public:
  bool DefragFolder(const std::string&, bool) override { return true; }
};

}  // namespace

std::unique_ptr<DefragEngine> NoDefragEngine() { return std::make_unique<NothingToDefrag>(); }

TThreadBoost::TThreadBoost(BoostWindowPort& form, bool boostMode, const BoostPorts& ports,
                           DefragEngineFactory engines, std::atomic<bool>& finished)
    : FForm(form),
      FBoostMode(boostMode),
      ports_(ports),
      engines_(std::move(engines)),
      finished_(finished),
      control_{*ports.services, *ports.registry, *ports.clock,
               [this](const std::string& text) {
                 FStatusText = text;
                 UpdateStatus();
               },
               [this] { return Terminated(); }} {}

void TThreadBoost::Resume(std::unique_ptr<TThreadBoost> worker) {
  // The body owns the worker and frees it once Execute has returned; a thread that cannot be made
  // frees it as it fails.
  std::shared_ptr<TThreadBoost> owned(std::move(worker));
  Thread thread([owned] { owned->Execute(); });
  thread.Detach();
}

void TThreadBoost::Execute() {
  try {
    if (FBoostMode) {
      DoBoost();
    } else {
      DoRestore();
    }
  } catch (...) {
    fatal_ = std::current_exception();
  }
  finished_.store(true);  // the last thing: the window may go away at once
}

bool TThreadBoost::DoBoost() {
  const int version = GetOSVersion(*ports_.version);

  if (FForm.IsChecked(OptionBox::chkDefragMem)) {
    EnablePrivilege(*ports_.privileges, "SeDebugPrivilege");
    TrimProcessWorkingSets(*ports_.processes);
  }

  if (FForm.IsChecked(OptionBox::chkDefragGamePath) && !FForm.GamePath().empty()) {
    EnablePrivilege(*ports_.privileges, "SeRestorePrivilege");
    EnablePrivilege(*ports_.privileges, "SeBackupPrivilege");
    std::unique_ptr<DefragEngine> engine = engines_();
    engine->OnProgress = [this](DefragEngine& sender, bool& abort, const std::wstring& fileName) {
      EngineProgress(sender, abort, fileName);
    };
    engine->OnSkipFile = [this](DefragEngine& sender, const std::wstring& fileName, bool& abort,
                                bool isFile, std::int64_t size) {
      EngineSkipFile(sender, fileName, abort, isFile, size);
    };
    // Read again, exactly as typed. An exception ends the run here: no service is stopped.
    engine->DefragFolder(FForm.GamePath(), false);
  }

  for (const CatalogueOption& option : kCatalogueOptions) {
    if (!FForm.IsChecked(option.box)) continue;
    if (HasCatalogue(version)) StopNamedService("", OptionService(option, version));
    if (Terminated()) return true;
  }
  for (const char* name : FixedServices(version)) StopNamedService("", name);
  return true;
}

bool TThreadBoost::DoRestore() {
  std::vector<std::string> names;
  ReadBoostedServices(*ports_.registry, names);
  for (const std::string& name : names) {
    StartNamedService("", name);
    if (Terminated()) break;
  }
  ClearBoostedServices(*ports_.registry);
  return true;
}

bool TThreadBoost::StopNamedService(const std::string& machine, const std::string& name) {
  return kestrava::StopNamedService(control_, machine, name);
}

bool TThreadBoost::StartNamedService(const std::string& machine, const std::string& name) {
  return kestrava::StartNamedService(control_, machine, name);
}

void TThreadBoost::UpdateStatus() { FForm.SetStatusText(FStatusText); }

// The engine fires an event every 64 clusters, also across a file's sparse ranges: one with a
// hole of 2^32 clusters fires 67 million for the same path. Each text shown is a blocking hand-off
// to the window thread, so a path is handed over only when it is not the one shown already.
void TThreadBoost::EngineProgress(DefragEngine&, bool& abort, const std::wstring& fileName) {
  if (fileName != shownPath_) {
    shownPath_ = fileName;
    FForm.SetStatusText(WideToAnsi(fileName));
  }
  abort = FForm.SysAbort();
}

void TThreadBoost::EngineSkipFile(DefragEngine&, const std::wstring& fileName, bool& abort, bool,
                                  std::int64_t) {
  if (fileName != shownPath_) {
    shownPath_ = fileName;
    FForm.SetStatusText(WideToAnsi(fileName));
  }
  abort = FForm.SysAbort();
}

}  // namespace kestrava
