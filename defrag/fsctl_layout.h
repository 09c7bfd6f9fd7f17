#pragma once
// The byte layouts of the defragmentation control codes, as DeviceIoControl passes them.
// The engine builds inputs and reads outputs at these offsets with memcpy: the bytes come from the
// volume, so nothing about them is trusted, and no structure is laid over a buffer.
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kestrava::fsctl {

// STARTING_VCN_INPUT_BUFFER and STARTING_LCN_INPUT_BUFFER: one signed 64-bit number.
inline constexpr std::uint32_t kStartingNumberLength = 8;

// RETRIEVAL_POINTERS_BUFFER: ExtentCount (32 bits, then 4 bytes of padding), StartingVcn, then
// per extent NextVcn and Lcn.
inline constexpr std::size_t kExtentCountOffset = 0;
inline constexpr std::size_t kStartingVcnOffset = 8;
inline constexpr std::size_t kExtentsOffset = 16;
inline constexpr std::size_t kExtentLength = 16;
inline constexpr std::size_t kNextVcnInExtent = 0;
inline constexpr std::size_t kLcnInExtent = 8;

// VOLUME_BITMAP_BUFFER: StartingLcn, BitmapSize (in clusters), then the bitmap, a set bit for a
// cluster in use, least significant bit first.
inline constexpr std::size_t kBitmapStartingLcnOffset = 0;
inline constexpr std::size_t kBitmapSizeOffset = 8;
inline constexpr std::size_t kBitmapOffset = 16;

// MOVE_FILE_DATA: FileHandle (pointer-sized, padded to 8 bytes in a 32-bit process), StartingVcn,
// StartingLcn, ClusterCount (32 bits, then padding). 32 bytes in both kinds of process.
inline constexpr std::size_t kMoveHandleOffset = 0;
inline constexpr std::size_t kMoveStartingVcnOffset = 8;
inline constexpr std::size_t kMoveStartingLcnOffset = 16;
inline constexpr std::size_t kMoveClusterCountOffset = 24;
inline constexpr std::uint32_t kMoveFileDataLength = 32;

// NTFS_VOLUME_DATA_BUFFER: 96 bytes in both kinds of process (a larger buffer also gets the
// extended data after them on later Windows). Only where NTFS keeps room for its MFT to grow is
// read: the clusters from MftZoneStart up to MftZoneEnd, which read free in the bitmap but take no
// file's data.
inline constexpr std::size_t kMftZoneStartOffset = 80;
inline constexpr std::size_t kMftZoneEndOffset = 88;
inline constexpr std::uint32_t kNtfsVolumeDataLength = 96;

// Little-endian reads and writes at an offset; every supported processor is little-endian.
inline std::int64_t ReadInt64(const void* buffer, std::size_t offset) {
  std::int64_t value;
  std::memcpy(&value, static_cast<const unsigned char*>(buffer) + offset, sizeof value);
  return value;
}
inline std::uint32_t ReadUInt32(const void* buffer, std::size_t offset) {
  std::uint32_t value;
  std::memcpy(&value, static_cast<const unsigned char*>(buffer) + offset, sizeof value);
  return value;
}
inline void WriteInt64(void* buffer, std::size_t offset, std::int64_t value) {
  std::memcpy(static_cast<unsigned char*>(buffer) + offset, &value, sizeof value);
}
inline void WriteUInt32(void* buffer, std::size_t offset, std::uint32_t value) {
  std::memcpy(static_cast<unsigned char*>(buffer) + offset, &value, sizeof value);
}

}  // namespace kestrava::fsctl
