#include <windows.h>

#include "common/recursive_lock.h"

namespace kestrava {

struct RecursiveLock::Impl {
  CRITICAL_SECTION section;
};

RecursiveLock::RecursiveLock() : impl_(new Impl) { InitializeCriticalSection(&impl_->section); }
RecursiveLock::~RecursiveLock() { DeleteCriticalSection(&impl_->section); }
void RecursiveLock::Acquire() { EnterCriticalSection(&impl_->section); }
bool RecursiveLock::TryAcquire() { return TryEnterCriticalSection(&impl_->section) != FALSE; }
void RecursiveLock::Release() { LeaveCriticalSection(&impl_->section); }

}  // namespace kestrava
