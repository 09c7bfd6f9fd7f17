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
