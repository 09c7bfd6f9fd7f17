#pragma once
// Opening a volume or an item to move it, with the failure raised as the engine reports it:
// "CreateFile " + what was opened + a line break + the system message.
#include <string>

#include "defrag/volume_port.h"

namespace kestrava {

// Opens "\\.\" + drive (drive is "C:") into device, or raises KestravaError.
void OpenVolumeOrRaise(VolumeDevicePort& volume, const std::string& drive, DeviceHandle& device);

// Opens an item to move it into item, with access, or raises KestravaError naming ansiPath.
void OpenItemToMoveOrRaise(VolumeDevicePort& volume, const std::wstring& path,
                           const std::string& ansiPath, bool isFolder, ItemAccess access,
                           DeviceHandle& item);

}  // namespace kestrava
