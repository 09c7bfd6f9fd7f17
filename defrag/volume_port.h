#pragma once
// A volume and its items as the defragmentation engine sees them: opening, the file-system
// control calls at the level of DeviceIoControl (the engine builds the input structures and parses
// the output bytes itself), and the volume's cluster size. A thin pass-through: the Win32 adapter
// opens and passes bytes; the tests answer with a simulated volume.
#include <cstdint>
#include <string>

#include "common/port_handle.h"
#include "common/win_error.h"

namespace kestrava {

// The control codes, with Windows' values.
namespace fsctl {
inline constexpr std::uint32_t kGetNtfsVolumeData = 0x00090064;  // FAT and exFAT: error 1
inline constexpr std::uint32_t kGetVolumeBitmap = 0x0009006F;
inline constexpr std::uint32_t kGetRetrievalPointers = 0x00090073;
inline constexpr std::uint32_t kMoveFile = 0x00090074;
}  // namespace fsctl

// What an item handle opened to move may do. Attribute-only is what a move needs and what a file
// that another program holds open still grants; an encrypted file's clusters move only through a
// handle that may also read its data.
enum class ItemAccess { kAttributes, kAttributesAndData };

class VolumeDevicePort {
 public:
  using Handle = std::uintptr_t;  // a HANDLE on Windows; 0 is never valid

  virtual ~VolumeDevicePort() = default;

  // CreateFileA on a volume path ("\\.\C:") with GENERIC_READ, sharing read and write.
  virtual WinError OpenVolume(const std::string& volumePath, Handle* volume) = 0;
  // CreateFileA on an item to read its extents: FILE_READ_ATTRIBUTES, sharing read, write and
  // delete; a folder with FILE_FLAG_BACKUP_SEMANTICS. Redirection is left as it is.
  virtual WinError OpenItemToInspect(const std::string& path, bool isFolder, Handle* item) = 0;
  // CreateFileW on an item to move: FILE_READ_ATTRIBUTES (with kAttributesAndData also
  // FILE_READ_DATA), sharing read and write; a file with FILE_FLAG_NO_BUFFERING, a folder with
  // FILE_FLAG_BACKUP_SEMANTICS; under WOW64 with the file-system redirection switched off around
  // the call.
  virtual WinError OpenItemToMove(const std::wstring& path, bool isFolder, ItemAccess access,
                                  Handle* item) = 0;
  // DeviceIoControl. *returned is the count of output bytes written; it is valid on success and
  // also with ERROR_MORE_DATA, where the output holds a first part of the answer.
  virtual WinError Control(Handle device, std::uint32_t code, const void* input,
                           std::uint32_t inputLength, void* output, std::uint32_t outputLength,
                           std::uint32_t* returned) = 0;
  virtual void Close(Handle handle) = 0;
  // GetDiskFreeSpaceA on a root ("C:\"): sectors per cluster times bytes per sector.
  virtual WinError ClusterSize(const std::string& root, std::uint32_t* bytesPerCluster) = 0;
  // IOCTL_STORAGE_QUERY_PROPERTY for StorageDeviceSeekPenaltyProperty on an open volume: whether
  // its disk pays a seek for reading far apart (false for a solid-state disk). Windows before 7
  // does not know the question and fails it, as does a disk that cannot say; that is also the
  // answer of a volume that does not implement it.
  virtual WinError SeekPenalty(Handle /*volume*/, bool* /*incursPenalty*/) {
    return err::kNotSupported;
  }
};

using DeviceHandle = PortHandle<VolumeDevicePort>;

// The real volumes (Windows build only).
VolumeDevicePort& PlatformVolumeDevice();

}  // namespace kestrava
