#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "common/error.h"
#include "common/thread.h"

namespace kestrava {

struct Thread::Impl {
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  std::thread thread;
};

// Priorities are not changed: an unprivileged Linux process cannot raise them back.
Thread::Thread(std::function<void()> body, TThreadPriority) : impl_(new Impl) {
  Impl* impl = impl_.get();
  try {
    impl->thread = std::thread([impl, body = std::move(body)] {
      body();
      std::lock_guard<std::mutex> hold(impl->mutex);
      impl->done = true;
      impl->ended.notify_all();
    });
  } catch (const std::system_error& e) {
    throw KestravaError(std::string("Thread creation error: ") + e.what());
  }
}

Thread::~Thread() {
  if (impl_->thread.joinable()) impl_->thread.join();
}

bool Thread::WaitFor(std::uint32_t milliseconds) {
  std::unique_lock<std::mutex> hold(impl_->mutex);
  return impl_->ended.wait_for(hold, std::chrono::milliseconds(milliseconds),
                               [this] { return impl_->done; });
}

}  // namespace kestrava
