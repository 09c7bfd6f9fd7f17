#include <windows.h>
#include <winioctl.h>

#include <cstddef>

#include "win32/redirection_win.h"
#include "win32/unique_handle.h"
#include "defrag/fsctl_layout.h"
#include "defrag/volume_port.h"
#include "win32/last_error.h"

namespace kestrava {
namespace {

WinError Opened(HANDLE h, VolumeDevicePort::Handle* out) {
  if (h == INVALID_HANDLE_VALUE) return FailureCode();
  *out = reinterpret_cast<VolumeDevicePort::Handle>(h);
  return err::kSuccess;
}

class Win32VolumeDevice final : public VolumeDevicePort {
 public:
  WinError OpenVolume(const std::string& volumePath, Handle* volume) override {
    return Opened(CreateFileA(volumePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr),
                  volume);
  }
  WinError OpenItemToInspect(const std::string& path, bool isFolder, Handle* item) override {
    return Opened(
        CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    isFolder ? FILE_FLAG_BACKUP_SEMANTICS : FILE_ATTRIBUTE_NORMAL, nullptr),
        item);
  }
  WinError OpenItemToMove(const std::wstring& path, bool isFolder, ItemAccess access,
                          Handle* item) override {
    const DWORD rights = access == ItemAccess::kAttributesAndData
                             ? FILE_READ_ATTRIBUTES | FILE_READ_DATA
                             : FILE_READ_ATTRIBUTES;
    HANDLE h = INVALID_HANDLE_VALUE;
    {
      const RedirectionOff redirection(IsWow64);  // the open is attempted either way
      h = CreateFileW(path.c_str(), rights, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, isFolder ? FILE_FLAG_BACKUP_SEMANTICS : FILE_FLAG_NO_BUFFERING,
                      nullptr);
    }  // switched back on, the open's last error kept
    return Opened(h, item);
  }
  WinError Control(Handle device, std::uint32_t code, const void* input, std::uint32_t inputLength,
                   void* output, std::uint32_t outputLength, std::uint32_t* returned) override {
    DWORD bytes = 0;
    const BOOL ok =
        DeviceIoControl(reinterpret_cast<HANDLE>(device), code, const_cast<void*>(input),
                        inputLength, output, outputLength, &bytes, nullptr);
    const WinError error = ok ? err::kSuccess : FailureCode();
    if (ok || error == err::kMoreData) *returned = bytes;
    return error;
  }
  void Close(Handle handle) override { CloseKernelHandle(reinterpret_cast<HANDLE>(handle)); }
  WinError ClusterSize(const std::string& root, std::uint32_t* bytesPerCluster) override {
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
    if (!GetDiskFreeSpaceA(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters,
                           &totalClusters)) {
      return FailureCode();
    }
    *bytesPerCluster = sectorsPerCluster * bytesPerSector;
    return err::kSuccess;
  }
  WinError SeekPenalty(Handle volume, bool* incursPenalty) override {
    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = StorageDeviceSeekPenaltyProperty;
    query.QueryType = PropertyStandardQuery;
    DEVICE_SEEK_PENALTY_DESCRIPTOR answer{};
    DWORD bytes = 0;
    if (!DeviceIoControl(reinterpret_cast<HANDLE>(volume), IOCTL_STORAGE_QUERY_PROPERTY, &query,
                         sizeof query, &answer, sizeof answer, &bytes, nullptr)) {
      return FailureCode();
    }
    // A driver that answers without the field has not said.
    if (bytes <= offsetof(DEVICE_SEEK_PENALTY_DESCRIPTOR, IncursSeekPenalty)) {
      return err::kNotSupported;
    }
    *incursPenalty = answer.IncursSeekPenalty != FALSE;
    return err::kSuccess;
  }
};

static_assert(fsctl::kGetNtfsVolumeData == FSCTL_GET_NTFS_VOLUME_DATA &&
                  fsctl::kGetVolumeBitmap == FSCTL_GET_VOLUME_BITMAP &&
                  fsctl::kGetRetrievalPointers == FSCTL_GET_RETRIEVAL_POINTERS &&
                  fsctl::kMoveFile == FSCTL_MOVE_FILE,
              "the engine's control codes are Windows' own");

// The engine reads and writes these structures by offset; they are the system's own.
static_assert(offsetof(RETRIEVAL_POINTERS_BUFFER, ExtentCount) == fsctl::kExtentCountOffset &&
                  offsetof(RETRIEVAL_POINTERS_BUFFER, StartingVcn) == fsctl::kStartingVcnOffset &&
                  offsetof(RETRIEVAL_POINTERS_BUFFER, Extents) == fsctl::kExtentsOffset &&
                  sizeof(RETRIEVAL_POINTERS_BUFFER::Extents[0]) == fsctl::kExtentLength,
              "RETRIEVAL_POINTERS_BUFFER");
static_assert(offsetof(VOLUME_BITMAP_BUFFER, StartingLcn) == fsctl::kBitmapStartingLcnOffset &&
                  offsetof(VOLUME_BITMAP_BUFFER, BitmapSize) == fsctl::kBitmapSizeOffset &&
                  offsetof(VOLUME_BITMAP_BUFFER, Buffer) == fsctl::kBitmapOffset,
              "VOLUME_BITMAP_BUFFER");
static_assert(offsetof(MOVE_FILE_DATA, FileHandle) == fsctl::kMoveHandleOffset &&
                  offsetof(MOVE_FILE_DATA, StartingVcn) == fsctl::kMoveStartingVcnOffset &&
                  offsetof(MOVE_FILE_DATA, StartingLcn) == fsctl::kMoveStartingLcnOffset &&
                  offsetof(MOVE_FILE_DATA, ClusterCount) == fsctl::kMoveClusterCountOffset &&
                  sizeof(MOVE_FILE_DATA) == fsctl::kMoveFileDataLength,
              "MOVE_FILE_DATA");
static_assert(offsetof(NTFS_VOLUME_DATA_BUFFER, MftZoneStart) == fsctl::kMftZoneStartOffset &&
                  offsetof(NTFS_VOLUME_DATA_BUFFER, MftZoneEnd) == fsctl::kMftZoneEndOffset &&
                  sizeof(NTFS_VOLUME_DATA_BUFFER) == fsctl::kNtfsVolumeDataLength,
              "NTFS_VOLUME_DATA_BUFFER");

}  // namespace

VolumeDevicePort& PlatformVolumeDevice() {
  static Win32VolumeDevice port;
  return port;
}

}  // namespace kestrava
