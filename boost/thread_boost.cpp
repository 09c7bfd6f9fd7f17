#include "boost/thread_boost.h"

#include "boost/catalogue.h"
#include "boost/record.h"
#include "boost/trim.h"
#include "boost/os_version.h"
#include "boost/privilege_port.h"
#include "common/debug_log.h"
#include "common/system_message.h"
#include "common/thread.h"
#include "common/wide.h"

namespace kestrava {
namespace {

// The text of the error that ended a run.
std::string FailureText(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "an unexpected error";
  }
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
  receipt_->boost = FBoostMode;
  try {
    if (FBoostMode) {
      DoBoost();
    } else {
      DoRestore();
    }
  } catch (...) {
    fatal_ = std::current_exception();
  }
  if (fatal_) {
    try {
      receipt_->reason = FailureText(fatal_);
    } catch (...) {
      // Out of memory for the text: the receipt still says that the run ended early.
    }
    receipt_->endedEarly = true;
  }
  // Handed over whole, before the flag: the window reads it once it sees the run over.
  if (receipts_ != nullptr) receipts_->Put(receipt_);
  finished_.store(true);  // the last thing: the window may go away at once
}

MemoryReading TThreadBoost::ReadMemory() {
  MemoryReading reading;
  if (ports_.memory != nullptr) {
    reading.availableKnown =
        ports_.memory->AvailablePhysical(&reading.availableBytes) == err::kSuccess;
  }
  WorkingSetTotal total;
  if (SumTrimmableWorkingSets(*ports_.processes, total)) {
    reading.workingSetsKnown = true;
    reading.processes = total.processes;
    reading.workingSetBytes = total.bytes;
  }
  return reading;
}

bool TThreadBoost::DoBoost() {
  const int version = GetOSVersion(*ports_.version);

  if (FForm.IsChecked(OptionBox::chkDefragMem)) {
    EnablePrivilege(*ports_.privileges, "SeDebugPrivilege");
    receipt_->trimmed = true;
    receipt_->beforeTrim = ReadMemory();
    TrimProcessWorkingSets(*ports_.processes);
    receipt_->trimEndedAt = ports_.clock->Milliseconds();
    receipt_->afterTrim = ReadMemory();
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
    engine->OnItemDone = [this](DefragEngine&, const DefragItemReport& report) {
      receipt_->defrag.Add(report);
    };
    // Read again, exactly as typed. An exception ends the run here: no service is stopped.
    receipt_->defragmented = true;
    receipt_->gameFolder = FForm.GamePath();
    receipt_->defrag.freeSpaceRead = engine->DefragFolder(receipt_->gameFolder, false);
  }

  // A stop the record could not hold ends the boost: every further stop would be one no restore
  // gives back.
  for (const CatalogueOption& option : kCatalogueOptions) {
    if (!FForm.IsChecked(option.box)) continue;
    if (HasCatalogue(version)) StopNamedService("", OptionService(option, version));
    if (Terminated() || receipt_->endedEarly) return true;
  }
  for (const char* name : FixedServices(version)) {
    StopNamedService("", name);
    if (receipt_->endedEarly) return true;
  }
  return true;
}

bool TThreadBoost::DoRestore() {
  // Without the lines GetOSVersion writes: they belong to a boost's log.
  OsVersionReport report;
  const int version =
      ports_.version->Query(report) == err::kSuccess ? ClassifyOsVersion(report) : kOsOther;
  std::vector<std::string> names;
  ReadBoostedServices(*ports_.registry, names, &receipt_->recordPassedOver);
  for (const std::string& name : names) {
    // The record is in HKCU, which every program of the user can write: only a service a boost
    // of this program could have stopped is started again.
    if (IsCatalogueService(version, name)) {
      StartNamedService("", name);
    } else {
      PassOver(name);
    }
    if (Terminated()) break;
  }
  const WinError cleared = ClearBoostedServices(*ports_.registry);
  if (cleared != err::kSuccess) {
    receipt_->recordKept = true;
    receipt_->recordKeptText = SystemMessage(cleared);
  }
  return true;
}

bool TThreadBoost::StopNamedService(const std::string& machine, const std::string& name) {
  ServiceResult result = kestrava::StopNamedService(control_, machine, name);
  const bool stopped = Stopped(result);
  if (result.outcome == ServiceOutcome::kNotRecorded) {
    receipt_->endedEarly = true;
    receipt_->reason = "the record could not be written: " + result.text;
  }
  Keep(name, std::move(result));
  return stopped;
}

bool TThreadBoost::StartNamedService(const std::string& machine, const std::string& name) {
  ServiceResult result = kestrava::StartNamedService(control_, machine, name);
  const bool running = Running(result);
  Keep(name, std::move(result));
  return running;
}

void TThreadBoost::PassOver(const std::string& name) {
  DebugLog("Start:" + VisibleText(name));
  if (Terminated()) return;
  DebugLog("Not a service this program stops");
  Keep(name, {ServiceOutcome::kNotInCatalogue, ""});
}

// A name the operation did not try (an option without a service here, or a run asked to end) is
// no part of what the run did.
void TThreadBoost::Keep(const std::string& name, ServiceResult result) {
  if (result.outcome != ServiceOutcome::kNotTried) {
    receipt_->services.push_back({name, std::move(result)});
  }
}

void TThreadBoost::UpdateStatus() { FForm.SetStatusText(FStatusText); }

void TThreadBoost::EngineProgress(DefragEngine&, bool& abort, const std::wstring& fileName) {
  ShowEnginePath(fileName);
  abort = FForm.SysAbort();
}

void TThreadBoost::EngineSkipFile(DefragEngine&, const std::wstring& fileName, bool& abort, bool,
                                  std::int64_t) {
  ShowEnginePath(fileName);
  abort = FForm.SysAbort();
}

void TThreadBoost::ShowEnginePath(const std::wstring& fileName) {
  if (fileName == shownPath_) return;
  shownPath_ = fileName;
  FForm.SetStatusText(WideToAnsi(fileName));
}

}  // namespace kestrava
