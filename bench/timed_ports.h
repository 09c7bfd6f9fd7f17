#pragma once
// A pass-through to a simulated volume that adds up the thread CPU time spent inside it, so that a
// benchmark can split a run's time (and what it allocates) between the engine and the simulator
// it runs on. Each call
// reads the clock twice; ClockCost() measures what that adds, for the caller to take off.
#include <cstdint>
#include <string>

#include "bench/thread_clock.h"
#include "tests/sim/simulated_volume.h"

namespace kestrava::bench {

// The mean time between two clock reads with nothing between them: what one timed call adds to
// the time measured inside it (the end of one read and the start of the other).
inline double ClockCost() {
  constexpr int kRounds = 200000;
  std::int64_t sum = 0;
  for (int i = 0; i < kRounds; ++i) {
    const std::int64_t start = ThreadCpuNs();
    sum += ThreadCpuNs() - start;
  }
  return static_cast<double>(sum) / kRounds;
}

// True on this thread while a call is inside the simulated volume: what is allocated then is the
// simulator's, not the engine's.
inline thread_local bool insideVolume = false;

class TimedPorts final : public VolumeDevicePort, public DirectoryPort, public PathPort {
 public:
  using Handle = VolumeDevicePort::Handle;

  explicit TimedPorts(sim::SimulatedVolume& volume) : volume_(volume) {}

  std::int64_t InsideNs() const { return insideNs_; }
  std::uint64_t Calls() const { return calls_; }

  WinError OpenVolume(const std::string& volumePath, Handle* volume) override {
    return Timed([&] { return volume_.OpenVolume(volumePath, volume); });
  }
  WinError OpenItemToInspect(const std::string& path, bool isFolder, Handle* item) override {
    return Timed([&] { return volume_.OpenItemToInspect(path, isFolder, item); });
  }
  WinError OpenItemToMove(const std::wstring& path, bool isFolder, ItemAccess access,
                          Handle* item) override {
    return Timed([&] { return volume_.OpenItemToMove(path, isFolder, access, item); });
  }
  WinError Control(Handle device, std::uint32_t code, const void* input, std::uint32_t inputLength,
                   void* output, std::uint32_t outputLength, std::uint32_t* returned) override {
    return Timed([&] {
      return volume_.Control(device, code, input, inputLength, output, outputLength, returned);
    });
  }
  void Close(Handle handle) override {
    Timed([&] {
      volume_.Close(handle);
      return 0;
    });
  }
  WinError ClusterSize(const std::string& root, std::uint32_t* bytesPerCluster) override {
    return Timed([&] { return volume_.ClusterSize(root, bytesPerCluster); });
  }

  WinError FindFirst(const std::string& pattern, TFindData& data, DirectoryPort::Handle* handle,
                     FindScope scope) override {
    return Timed([&] { return volume_.FindFirst(pattern, data, handle, scope); });
  }
  WinError FindNext(DirectoryPort::Handle handle, TFindData& data) override {
    return Timed([&] { return volume_.FindNext(handle, data); });
  }
  void FindClose(DirectoryPort::Handle handle) override {
    Timed([&] {
      volume_.FindClose(handle);
      return 0;
    });
  }

  // Path syntax is a comparison or two: timing it would cost more than it measures.
  char Separator() const override { return volume_.Separator(); }
  bool IsNameDelimiter(char c) const override { return volume_.IsNameDelimiter(c); }
  WinError FullPath(const std::string& path, std::string* full) override {
    return Timed([&] { return volume_.FullPath(path, full); });
  }
  WinError UniversalName(const std::string& path, std::string* unc) override {
    return Timed([&] { return volume_.UniversalName(path, unc); });
  }

 private:
  template <typename Call>
  WinError Timed(Call call) {
    const std::int64_t start = ThreadCpuNs();
    insideVolume = true;
    const WinError result = call();
    insideVolume = false;
    insideNs_ += ThreadCpuNs() - start;
    ++calls_;
    return result;
  }

  sim::SimulatedVolume& volume_;
  std::int64_t insideNs_ = 0;
  std::uint64_t calls_ = 0;
};

}  // namespace kestrava::bench
