#pragma once
// The one exception type of the program. Raised only where the design calls for it (the cluster
// size query, the per-item failures inside the defragmentation engine); everything else reports
// failure through its result.
#include <stdexcept>
#include <string>

namespace kestrava {

class KestravaError : public std::runtime_error {
 public:
  explicit KestravaError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace kestrava
