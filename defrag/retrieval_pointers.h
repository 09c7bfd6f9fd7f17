#pragma once
// Reading an item's extents with FSCTL_GET_RETRIEVAL_POINTERS, one call at a time, from VCN 0.
// The answer's bytes are the volume's: an ExtentCount or a returned length that claims more than
// the buffer holds is cut to what it really holds, and the map ends at an extent that does not
// move forward. ForEachExtentOfItem is the one walk over a whole map that the engine's contiguity
// test, its cluster count and its moves all use.
#include <cstdint>

#include "defrag/volume_port.h"

namespace kestrava {

// One extent: the VCN range [Vcn, Vcn + Clusters) of the item, stored from Lcn on the volume.
struct TExtent {
  std::int64_t Vcn = 0;
  std::uint32_t Clusters = 0;  // the difference of the low 32 bits of the two VCNs
  std::int64_t Lcn = -1;       // -1: no clusters on the volume (a sparse or virtual range)
  bool Real() const { return Lcn != -1; }
};

class RetrievalPointers {
 public:
  // buffer is the caller's output buffer of length bytes (at least 32), reused by every call.
  RetrievalPointers(VolumeDevicePort& volume, VolumeDevicePort::Handle item, unsigned char* buffer,
                    std::uint32_t length)
      : volume_(volume), item_(item), buffer_(buffer), length_(length) {}

  // One call from the VCN after the last extent read so far (0 at first), the buffer's head
  // cleared before it. The outcome: 0, ERROR_MORE_DATA when more extents follow, else the error.
  WinError Read();

  // The extents of the last call that succeeded or returned more data, in VCN order.
  template <typename Visit>  // void(const TExtent&)
  void ForEachExtent(Visit visit) const;

  // Whether the last call took the map past the VCN it was asked for. An answer that does not
  // (no extent, or extents that go backwards) would only be repeated by another call.
  bool Advanced() const { return advanced_; }

 private:
  VolumeDevicePort& volume_;
  VolumeDevicePort::Handle item_;
  unsigned char* buffer_;
  std::uint32_t length_;
  std::uint32_t returned_ = 0;
  std::uint32_t extentCount_ = 0;  // what the buffer really holds of the claimed count
  std::uint32_t firstExtent_ = 0;  // the extents before it were read by an earlier call
  std::int64_t nextVcn_ = 0;
  bool advanced_ = false;
};

// The length of every extent buffer: 4,095 extents a call. A map with more is read page by page
// with ERROR_MORE_DATA, so no buffer grows with the item's size.
inline constexpr std::uint32_t kExtentBufferLength = 65536;

// What ended a walk over an item's map.
enum class ExtentWalkEnd {
  kMapEnd,   // the last answer came, the answers stopped moving forward, or the call limit
  kFailed,   // a read failed with an error other than access denied (an item with no clusters)
  kDenied,   // a read was answered with ERROR_ACCESS_DENIED
  kStopped,  // the visitor asked to stop
};

// Walks the map of an open item from VCN 0 through buffer (length bytes, reused by every call),
// making at most callLimit calls. visit(const TExtent&, bool firstOfAnswer) sees every extent in
// VCN order, firstOfAnswer for the first one each answer brings; it returns false to stop.
template <typename Visit>
ExtentWalkEnd ForEachExtentOfItem(VolumeDevicePort& volume, VolumeDevicePort::Handle item,
                                  unsigned char* buffer, std::uint32_t length, int callLimit,
                                  Visit visit);

}  // namespace kestrava

#include "defrag/retrieval_pointers_inl.h"
