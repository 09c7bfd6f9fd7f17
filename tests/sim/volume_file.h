#pragma once
// A simulated volume written as text, for test fixtures, tools and the volumes a failing property
// test leaves behind. One statement a line; "#" starts a comment:
//
//   volume C clusters 1000000 cluster_size 4096      first, and once
//   used 0:64 5000:12                                clusters in use by nothing listed (LCN:COUNT)
//   folder C:\Games\Foo\ extents 300:1               a folder without extents is resident
//   file C:\Games\Foo\a.pak extents 2000:5 -1:3 2010:2 attrs hidden,system
//   file C:\Games\Foo\tiny.txt resident
//   file C:\Games\Foo\open.dat extents 70:4 locked   every open fails with 32
//   file C:\Games\Foo\acl.dat extents 110:2 denied   every open fails with 5
//   file C:\Games\Foo\meta.bin extents 130:2 unmovable   moves fail with 5
//
// Extents are in VCN order, LCN -1 for a sparse range. An item creates its missing parents. Paths
// contain no spaces and no "#". Flags and attributes combine; attrs are readonly, hidden, system,
// archive, normal, temporary, sparse, reparse, compressed, offline, notindexed, encrypted, or a
// hex value (0x...).
//
// Statements that make the volume as strict as NTFS; a volume without them answers as before:
//
//   reserved 500:20                 free in the bitmap, but a move into them fails with 87
//   taken 600:10                    free in every bitmap answer until the first move call of any
//                                   kind, then in use by another program (a move into them: 5)
//   mft-zone 700:300                where NTFS keeps room for its MFT (one zone a volume): its free
//                                   clusters read free, a move into it fails with 87, and
//                                   FSCTL_GET_NTFS_VOLUME_DATA reports it (a volume without one
//                                   answers that control code as FAT does: 1)
//   partial-moves                   each move of more than one cluster moves the first half of
//                                   its count (rounded up) and reports success
//   short-bitmap-answers 64         bitmap answers hold at most 64 bytes of bitmap and end with
//                                   234 while more of the volume remains
//   file C:\G\big.dat extents 10:16 size 20000   20,000 bytes in 16 clusters: moves of VCN 5
//                                   on (past the cluster-rounded size) fail with 87; for a
//                                   compressed or sparse file, those past the end of the unit
//                                   that holds its last byte
//   file C:\G\game.exe extents 40:8 in-use        held open, sharing nothing: data opens (and
//                                   listing a folder) fail with 32, attribute opens succeed
//   file C:\G\a.dat extents 50:2 map-denied       reading its extents fails with 5
//   file C:\G\b.dat extents 60:2 map-empty        reading its extents succeeds with no extents
//   folder C:\G\Link\ extents 90:1 junction      a junction onto another volume (attrs reparse):
//                                   its extents and those of the items below it are that
//                                   volume's, not in this bitmap; moving them here fails with 87
//
// Files with attrs compressed or sparse move in 16-cluster units: a move must start on a unit
// (87), a count ending inside a unit takes the rest of it, and the real clusters of the units land
// back to back while their sparse clusters take no room. Items with attrs encrypted move only
// through a handle opened for data (5 otherwise). A folder's clusters are its index allocation:
// with extents it is read and moved like a file (its compressed attribute moves nothing in
// units); without, reading its extents fails with 38.
#include <istream>
#include <stdexcept>
#include <string>

#include "tests/sim/simulated_volume.h"

namespace kestrava::sim {

// A malformed volume text; the message names the line: "line 4: extent 2000:x is not LCN:COUNT".
class VolumeFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

SimulatedVolume ReadVolume(std::istream& in);
SimulatedVolume ReadVolumeText(const std::string& text);
// Throws VolumeFileError when the file cannot be opened (line 0).
SimulatedVolume LoadVolumeFile(const std::string& fileName);

// The text of a volume: its used runs, then its items parents first, siblings in NTFS order, so
// that reading it back gives an equal volume.
std::string VolumeText(const SimulatedVolume& volume);

}  // namespace kestrava::sim
