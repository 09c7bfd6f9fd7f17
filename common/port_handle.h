#pragma once
// Owns one handle that a port handed out and gives it back to the port's Close on every path. The
// port-level twin of UniqueHandle (win32/unique_handle.h), for code that sees only the port.
#include <utility>

namespace kestrava {

// Port has a Handle type in which 0 is never valid, and Close(Handle).
template <typename Port>
class PortHandle {
 public:
  using Handle = typename Port::Handle;

  explicit PortHandle(Port& port) : port_(port) {}
  ~PortHandle() { Reset(); }
  PortHandle(const PortHandle&) = delete;
  PortHandle& operator=(const PortHandle&) = delete;

  Handle Get() const { return handle_; }
  // The port that handed the handle out and takes it back.
  Port& Source() const { return port_; }
  // For the port's Open calls, which hand the handle out through a pointer.
  Handle* Put() {
    Reset();
    return &handle_;
  }
  void Reset() {
    if (handle_ != 0) port_.Close(std::exchange(handle_, Handle{0}));
  }

 private:
  Port& port_;
  Handle handle_ = 0;
};

}  // namespace kestrava
