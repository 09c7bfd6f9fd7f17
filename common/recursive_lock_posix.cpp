#include <mutex>

#include "common/recursive_lock.h"

namespace kestrava {

struct RecursiveLock::Impl {
  std::recursive_mutex mutex;
};

RecursiveLock::RecursiveLock() : impl_(new Impl) {}
RecursiveLock::~RecursiveLock() = default;
void RecursiveLock::Acquire() { impl_->mutex.lock(); }
bool RecursiveLock::TryAcquire() { return impl_->mutex.try_lock(); }
void RecursiveLock::Release() { impl_->mutex.unlock(); }

}  // namespace kestrava
