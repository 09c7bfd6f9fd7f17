#pragma once
// Records every debug-output line while it is installed.
#include <string>
#include <vector>

#include "common/debug_log.h"
#include "common/recursive_lock.h"

namespace kestrava::testing {

class DebugRecorder final : public DebugOutputPort {
 public:
  DebugRecorder() : previous_(SetDebugOutput(this)) {}
  ~DebugRecorder() override { SetDebugOutput(previous_); }
  DebugRecorder(const DebugRecorder&) = delete;
  DebugRecorder& operator=(const DebugRecorder&) = delete;

  void Write(const std::string& line) override {
    LockHolder hold(lock_);
    lines_.push_back(line);
  }
  std::vector<std::string> Lines() {
    LockHolder hold(lock_);
    return lines_;
  }

 private:
  DebugOutputPort* previous_;
  RecursiveLock lock_;
  std::vector<std::string> lines_;
};

}  // namespace kestrava::testing
