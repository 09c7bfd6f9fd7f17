#include "app/report_job.h"

#include <exception>
#include <utility>

namespace kestrava {

ReportJob::ReportJob(Work work, Progress onProgress, std::function<void(ReportTable table)> onDone)
    : onProgress_(std::move(onProgress)), onDone_(std::move(onDone)) {
  thread_ = std::make_unique<Thread>([this, work = std::move(work)] {
    ReportTable table;
    try {
      table = work([this](const std::string& line) { HandProgress(line); }, cancel_);
    } catch (const std::exception& e) {
      // Nobody on this thread could show it: the window shows it as the report.
      table.columns = {"Error"};
      table.Add({e.what()});
    }
    handOff_.Post([this, table = std::move(table)]() mutable {
      running_ = false;
      onDone_(std::move(table));
    });
  });
}

ReportJob::~ReportJob() {
  cancel_.store(true);
  // Nothing handed over runs from here on, and the thread's last Post is dropped.
  handOff_.Close();
  thread_.reset();
}

void ReportJob::HandProgress(const std::string& line) {
  {
    LockHolder hold(lock_);
    latest_ = line;
  }
  // One hand-over at a time: a folder of many small items must not fill the window's queue.
  if (!progressQueued_.exchange(true)) handOff_.Post([this] { ShowProgress(); });
}

void ReportJob::ShowProgress() {
  progressQueued_.store(false);
  std::string line;
  {
    LockHolder hold(lock_);
    line = latest_;
  }
  // A line that arrives after the table would overwrite the final text.
  if (running_) onProgress_(line);
}

}  // namespace kestrava
