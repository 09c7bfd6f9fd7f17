// The platform's thread port of the finder, the same in both builds: a search thread is a Thread
// and the finder's hidden window a HandOff in the creating thread.
#include "common/hand_off.h"
#include "common/thread.h"
#include "search/search_ports.h"

namespace kestrava {
namespace {

class HandOffChannel final : public OwnerChannel {
 public:
  explicit HandOffChannel(std::function<void()> onSearchEnded)
      : onSearchEnded_(std::move(onSearchEnded)) {}

  // The notice runs only while this channel lives: destroying it closes the hand-off, which drops
  // a notice still queued.
  void PostSearchEnded() override {
    handOff_.Post([this] { onSearchEnded_(); });
  }
  bool InOwnerThread() const override { return handOff_.InOwnerThread(); }

 private:
  std::function<void()> onSearchEnded_;
  HandOff handOff_;
};

class SearchThread final : public WorkerThread {
 public:
  SearchThread(std::function<void()> body, TThreadPriority priority)
      : thread_(std::move(body), priority) {}
  bool WaitFor(std::uint32_t milliseconds) override { return thread_.WaitFor(milliseconds); }

 private:
  Thread thread_;
};

class PlatformThreadPort final : public ThreadPort {
 public:
  std::unique_ptr<OwnerChannel> CreateChannel(std::function<void()> onSearchEnded) override {
    return std::make_unique<HandOffChannel>(std::move(onSearchEnded));
  }
  std::unique_ptr<WorkerThread> StartThread(std::function<void()> body,
                                            TThreadPriority priority) override {
    return std::make_unique<SearchThread>(std::move(body), priority);
  }
  bool PumpOneMessage() override { return kestrava::PumpOneMessage(); }
  void YieldThread() override { kestrava::YieldThread(); }
  void ReportError(const std::string& message) override { ShowSearchError(message); }
};

}  // namespace

ThreadPort& PlatformThreads() {
  static PlatformThreadPort port;
  return port;
}

}  // namespace kestrava
