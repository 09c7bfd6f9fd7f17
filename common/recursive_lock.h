#pragma once
// A recursive lock that both builds have (the Windows build's compiler runtime has no std::mutex):
// a critical section on Windows, std::recursive_mutex on the host.
#include <memory>

namespace kestrava {

class RecursiveLock {
 public:
  RecursiveLock();
  ~RecursiveLock();
  RecursiveLock(const RecursiveLock&) = delete;
  RecursiveLock& operator=(const RecursiveLock&) = delete;

  void Acquire();
  bool TryAcquire();
  void Release();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Holds a RecursiveLock for one scope.
class LockHolder {
 public:
  explicit LockHolder(RecursiveLock& lock) : lock_(lock) { lock_.Acquire(); }
  ~LockHolder() { lock_.Release(); }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

 private:
  RecursiveLock& lock_;
};

}  // namespace kestrava
