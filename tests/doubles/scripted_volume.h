#pragma once
// A volume device whose control calls are answered by a script, for answers no real volume gives:
// counts that claim more than the buffer holds, maps that go backwards, endless "more data". Opens
// succeed (or fail with openError) and are counted, so a test can see that every handle went back.
#include <cstdint>
#include <functional>
#include <string>

#include "defrag/volume_port.h"

namespace kestrava::testing {

class ScriptedVolume final : public VolumeDevicePort {
 public:
  using Answer = std::function<WinError(std::uint32_t code, const unsigned char* input,
                                        std::uint32_t inputLength, unsigned char* output,
                                        std::uint32_t outputLength, std::uint32_t* returned)>;
  Answer answer;
  // Where the MFT zone lies (FSCTL_GET_NTFS_VOLUME_DATA), answered apart from the script and not
  // counted among its calls; unset, the volume answers it as FAT does (1).
  Answer volumeData;
  WinError openError = err::kSuccess;
  std::uint32_t clusterSize = 4096;
  WinError clusterSizeError = err::kSuccess;
  int clusterSizeCalls = 0;
  int openHandles = 0;
  int controlCalls = 0;
  std::string lastVolumePath;

  WinError OpenVolume(const std::string& volumePath, Handle* volume) override {
    lastVolumePath = volumePath;
    return Open(volume);
  }
  WinError OpenItemToInspect(const std::string&, bool, Handle* item) override { return Open(item); }
  WinError OpenItemToMove(const std::wstring&, bool, ItemAccess, Handle* item) override {
    return Open(item);
  }
  WinError Control(Handle, std::uint32_t code, const void* input, std::uint32_t inputLength,
                   void* output, std::uint32_t outputLength, std::uint32_t* returned) override {
    if (code == fsctl::kGetNtfsVolumeData) {
      if (!volumeData) return err::kInvalidFunction;
      return volumeData(code, static_cast<const unsigned char*>(input), inputLength,
                        static_cast<unsigned char*>(output), outputLength, returned);
    }
    ++controlCalls;
    return answer(code, static_cast<const unsigned char*>(input), inputLength,
                  static_cast<unsigned char*>(output), outputLength, returned);
  }
  void Close(Handle) override { --openHandles; }
  // The seek-penalty question: "not supported" unless seekPenaltyError is cleared.
  WinError seekPenaltyError = err::kNotSupported;
  bool incursSeekPenalty = true;
  WinError SeekPenalty(Handle, bool* incursPenalty) override {
    if (seekPenaltyError != err::kSuccess) return seekPenaltyError;
    *incursPenalty = incursSeekPenalty;
    return err::kSuccess;
  }
  WinError ClusterSize(const std::string&, std::uint32_t* bytesPerCluster) override {
    ++clusterSizeCalls;
    if (clusterSizeError != err::kSuccess) return clusterSizeError;
    *bytesPerCluster = clusterSize;
    return err::kSuccess;
  }

 private:
  WinError Open(Handle* handle) {
    if (openError != err::kSuccess) return openError;
    *handle = static_cast<Handle>(++handles_);
    ++openHandles;
    return err::kSuccess;
  }
  int handles_ = 0;
};

}  // namespace kestrava::testing
