#pragma once
// TThreadBoost: the worker behind the boost button. One worker per press performs one run: a
// boost (privileges, trimming, the game folder, then the services of the ticked options and the
// version's fixed list, each one recorded before its stop is asked for; a record that cannot be
// written ends the boost) or a restore (start the recorded services that a boost could have
// stopped, delete the record). It reads the window's controls when each step begins and shows
// progress in status panel 0, all through BoostWindowPort; BoostFinished is the last thing it sets.
#include <atomic>
#include <exception>
#include <memory>
#include <string>

#include "boost/boost_ports.h"
#include "boost/boost_window.h"
#include "boost/defrag_engine.h"
#include "boost/receipt.h"
#include "boost/service_control.h"

namespace kestrava {

class TThreadBoost {
 public:
  // Creates the worker suspended: nothing runs until Resume.
  TThreadBoost(BoostWindowPort& form, bool boostMode, const BoostPorts& ports,
               DefragEngineFactory engines, std::atomic<bool>& finished = BoostFinished);
  TThreadBoost(const TThreadBoost&) = delete;
  TThreadBoost& operator=(const TThreadBoost&) = delete;

  // Runs the worker on a thread of its own, which frees it after Execute: nobody keeps a
  // reference to a worker. Throws KestravaError when no thread can be made (the worker is gone).
  static void Resume(std::unique_ptr<TThreadBoost> worker);

  // The run: DoBoost or DoRestore, then BoostFinished, also when the run ends by an exception
  // (which the worker keeps, FatalException, and writes into its receipt as the reason the run
  // ended early). The receipt goes into the slot, if one was given, just before BoostFinished.
  void Execute();
  bool DoBoost();
  bool DoRestore();
  bool StopNamedService(const std::string& machine, const std::string& name);
  bool StartNamedService(const std::string& machine, const std::string& name);
  // Puts FStatusText into status panel 0, on the window thread.
  void UpdateStatus();
  void EngineProgress(DefragEngine& sender, bool& abort, const std::wstring& fileName);
  // Puts the engine's path into panel 0 unless it is shown already. The engine fires an event
  // every 64 clusters, also across sparse ranges (a hole of 2^32 clusters is 67 million events
  // for one path), and each text shown is a blocking hand-off to the window thread.
  void ShowEnginePath(const std::wstring& fileName);
  void EngineSkipFile(DefragEngine& sender, const std::wstring& fileName, bool& abort, bool isFile,
                      std::int64_t size);

  // Asks the worker to stop at its next terminate check.
  void Terminate() { terminated_.store(true); }
  bool Terminated() const { return terminated_.load(); }
  std::exception_ptr FatalException() const { return fatal_; }

  // Where Execute leaves the receipt of the run for the window; set before Resume.
  void KeepReceiptIn(ReceiptSlot& slot) { receipts_ = &slot; }
  // What the run did so far; complete once Execute has returned.
  const BoostReceipt& Receipt() const { return *receipt_; }

 private:
  // Available physical memory and the sum of the working sets now, as far as the ports say.
  MemoryReading ReadMemory();
  // Logs a recorded name the restore does not start, and keeps it in the receipt.
  void PassOver(const std::string& name);
  // Adds a service's outcome to the receipt.
  void Keep(const std::string& name, ServiceResult result);

  BoostWindowPort& FForm;
  bool FBoostMode;
  std::string FStatusText;
  std::wstring shownPath_;  // the engine's path last put into panel 0
  BoostPorts ports_;
  DefragEngineFactory engines_;
  std::atomic<bool>& finished_;
  std::atomic<bool> terminated_{false};
  std::exception_ptr fatal_;
  ServiceControl control_;
  std::shared_ptr<BoostReceipt> receipt_ = std::make_shared<BoostReceipt>();
  ReceiptSlot* receipts_ = nullptr;
};

}  // namespace kestrava
