// The host's stand-in for a thread's Windows message queue: every thread has a queue of messages,
// each of which tells one hand-off to run its own queue; PumpOneMessage handles one of them.
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "common/hand_off.h"
#include "common/hand_off_queue.h"

namespace kestrava {
namespace {

struct ThreadMessages {
  std::mutex mutex;
  std::deque<std::function<void()>> messages;

  void Post(std::function<void()> message) {
    std::lock_guard<std::mutex> hold(mutex);
    messages.push_back(std::move(message));
  }
  bool Pop(std::function<void()>* message) {
    std::lock_guard<std::mutex> hold(mutex);
    if (messages.empty()) return false;
    *message = std::move(messages.front());
    messages.pop_front();
    return true;
  }
};

std::shared_ptr<ThreadMessages> CurrentThreadMessages() {
  thread_local const std::shared_ptr<ThreadMessages> messages = std::make_shared<ThreadMessages>();
  return messages;
}

}  // namespace

// Shared with the messages in flight, so that a message outliving its hand-off finds it closed
// rather than gone.
struct HandOffState {
  HandOffQueue queue;
  std::mutex mutex;  // guards the calls' done flags
  std::condition_variable served;

  void Finished(HandOffQueue::Call& call) {
    std::lock_guard<std::mutex> hold(mutex);
    call.done = true;
    served.notify_all();
  }
  void Drain() {
    queue.Drain([this](HandOffQueue::Call& call) { Finished(call); });
  }
};

struct HandOff::Impl {
  std::shared_ptr<HandOffState> state = std::make_shared<HandOffState>();
  std::shared_ptr<ThreadMessages> ownerMessages = CurrentThreadMessages();
  std::thread::id owner = std::this_thread::get_id();

  void Notify() {
    std::shared_ptr<HandOffState> s = state;
    ownerMessages->Post([s] { s->Drain(); });
  }
};

HandOff::HandOff() : impl_(std::make_shared<Impl>()) {}

HandOff::~HandOff() { Close(); }

void HandOff::Post(std::function<void()> work) {
  if (impl_->state->queue.AddPosted(std::move(work))) impl_->Notify();
}

bool HandOff::Send(const std::function<void()>& work) {
  if (InOwnerThread()) {
    work();
    return true;
  }
  HandOffState& state = *impl_->state;
  HandOffQueue::Call call;
  call.work = &work;
  if (!state.queue.AddCall(&call)) return false;
  impl_->Notify();
  {
    std::unique_lock<std::mutex> hold(state.mutex);
    state.served.wait(hold, [&] { return call.done; });
  }
  state.queue.Remove(&call);
  if (call.error) std::rethrow_exception(call.error);
  return call.ran;
}

void HandOff::Close() {
  HandOffState& state = *impl_->state;
  state.queue.Close([&state](HandOffQueue::Call& call) { state.Finished(call); });
}

bool HandOff::InOwnerThread() const { return std::this_thread::get_id() == impl_->owner; }

bool PumpOneMessage() {
  std::function<void()> message;
  if (!CurrentThreadMessages()->Pop(&message)) return false;
  message();
  return true;
}

void YieldThread() { std::this_thread::yield(); }

}  // namespace kestrava
