#pragma once
// The one exception type of the program. Raised in five places only: the cluster size query, the
// defragmentation engine's failures (opening the volume or an item, no free space, a failed move),
// a thread that cannot be created, a hand-off window that cannot be created, and search criteria
// assigned from another kind. Everything else reports failure through its result.
#include <stdexcept>
#include <string>

namespace kestrava {

class KestravaError : public std::runtime_error {
 public:
  explicit KestravaError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace kestrava
