#pragma once
// A volume as the engine reaches it, with what a test wants to see of how the engine used it.
#include <algorithm>
#include <cstdint>
#include <map>
#include <string>

#include "common/wide.h"
#include "defrag/fsctl_layout.h"
#include "defrag/volume_port.h"

namespace kestrava::testing {

// Hands every call to another volume, noting how each item was opened to move and the largest
// extent buffer the engine asked to be filled.
class WatchedVolume final : public VolumeDevicePort {
 public:
  explicit WatchedVolume(VolumeDevicePort& volume) : volume_(volume) {}
  std::map<std::string, ItemAccess> access;  // by path
  std::uint32_t largestExtentBuffer = 0;
  // Not 0: once a move has succeeded, every extent read fails with it (a map that cannot be read
  // back).
  WinError mapErrorAfterMoves = 0;

  WinError OpenVolume(const std::string& path, Handle* handle) override {
    return volume_.OpenVolume(path, handle);
  }
  WinError OpenItemToInspect(const std::string& path, bool isFolder, Handle* item) override {
    return volume_.OpenItemToInspect(path, isFolder, item);
  }
  WinError OpenItemToMove(const std::wstring& path, bool isFolder, ItemAccess how,
                          Handle* item) override {
    access[WideToAnsi(path)] = how;
    return volume_.OpenItemToMove(path, isFolder, how, item);
  }
  WinError Control(Handle device, std::uint32_t code, const void* input, std::uint32_t inputLength,
                   void* output, std::uint32_t outputLength, std::uint32_t* returned) override {
    if (code == fsctl::kGetRetrievalPointers) {
      largestExtentBuffer = std::max(largestExtentBuffer, outputLength);
      if (moved_ && mapErrorAfterMoves != 0) return mapErrorAfterMoves;
    }
    const WinError error =
        volume_.Control(device, code, input, inputLength, output, outputLength, returned);
    if (code == fsctl::kMoveFile && error == err::kSuccess) moved_ = true;
    return error;
  }
  void Close(Handle handle) override { volume_.Close(handle); }
  WinError ClusterSize(const std::string& root, std::uint32_t* bytes) override {
    return volume_.ClusterSize(root, bytes);
  }

 private:
  VolumeDevicePort& volume_;
  bool moved_ = false;
};

}  // namespace kestrava::testing
