#include "defrag/volume_open.h"

#include "common/error.h"
#include "common/system_message.h"

namespace kestrava {
namespace {

[[noreturn]] void RaiseCreateFile(const std::string& what, WinError error) {
  throw KestravaError("CreateFile " + what + "\r\n" + SystemMessage(error));
}

}  // namespace

void OpenVolumeOrRaise(VolumeDevicePort& volume, const std::string& drive, DeviceHandle& device) {
  const std::string path = "\\\\.\\" + drive;
  if (const WinError error = volume.OpenVolume(path, device.Put())) RaiseCreateFile(path, error);
}

void OpenItemToMoveOrRaise(VolumeDevicePort& volume, const std::wstring& path,
                           const std::string& ansiPath, bool isFolder, ItemAccess access,
                           DeviceHandle& item) {
  if (const WinError error = volume.OpenItemToMove(path, isFolder, access, item.Put())) {
    RaiseCreateFile(ansiPath, error);
  }
}

}  // namespace kestrava
