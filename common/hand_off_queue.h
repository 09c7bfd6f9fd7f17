#pragma once
// The queue behind a HandOff (common/hand_off.h), the same in both builds: posted work and sent
// calls in the order they came, run by the owner thread, dropped once the hand-off is closed.
#include <deque>
#include <exception>
#include <functional>

#include "common/recursive_lock.h"

namespace kestrava {

class HandOffQueue {
 public:
  // One Send, living in the sender's frame while it waits.
  struct Call {
    const std::function<void()>* work = nullptr;
    std::exception_ptr error;
    bool ran = false;
    bool done = false;  // ran to its end, or dropped: the sender may go (written by finished())
  };

  // False, and nothing queued, once closed.
  bool AddPosted(std::function<void()> work) { return Add(Item{std::move(work), nullptr}); }
  bool AddCall(Call* call) { return Add(Item{{}, call}); }

  // The sender's call once its wait is over: gone from the queue whether it ran or not.
  void Remove(Call* call) {
    LockHolder hold(lock_);
    for (auto it = items_.begin(); it != items_.end(); ++it) {
      if (it->call == call) {
        items_.erase(it);
        return;
      }
    }
  }

  // In the owner thread: runs everything queued, including what the work itself queues. finished
  // marks each call done, run or dropped, and wakes its sender where the platform needs that.
  template <typename Finished>
  void Drain(Finished finished) {
    for (;;) {
      Item item;
      {
        LockHolder hold(lock_);
        if (items_.empty()) return;
        item = std::move(items_.front());
        items_.pop_front();
      }
      if (item.call == nullptr) {
        try {
          item.posted();
        } catch (...) {
          // Posted work has nobody to report to; the owner's message handling must go on.
        }
        continue;
      }
      item.call->ran = true;
      try {
        (*item.call->work)();
      } catch (...) {
        item.call->error = std::current_exception();
      }
      finished(*item.call);
    }
  }

  template <typename Finished>
  void Close(Finished finished) {
    LockHolder hold(lock_);
    closed_ = true;
    for (Item& item : items_) {
      if (item.call != nullptr) finished(*item.call);
    }
    items_.clear();
  }

 private:
  struct Item {
    std::function<void()> posted;
    Call* call = nullptr;
  };

  bool Add(Item item) {
    LockHolder hold(lock_);
    if (closed_) return false;
    items_.push_back(std::move(item));
    return true;
  }

  RecursiveLock lock_;
  std::deque<Item> items_;
  bool closed_ = false;
};

}  // namespace kestrava
