#include "tests/sim/volume_file.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

namespace kestrava::sim {
namespace {

struct AttributeName {
  const char* name;
  std::uint32_t bit;
};

constexpr AttributeName kAttributeNames[] = {
    {"readonly", attr::kReadonly},
    {"hidden", attr::kHidden},
    {"system", attr::kSystem},
    {"archive", attr::kArchive},
    {"normal", attr::kNormal},
    {"temporary", attr::kTemporary},
    {"sparse", attr::kSparseFile},
    {"reparse", attr::kReparsePoint},
    {"compressed", attr::kCompressed},
    {"offline", attr::kOffline},
    {"notindexed", attr::kNotContentIndexed},
    {"encrypted", attr::kEncrypted},
};

[[noreturn]] void Fail(int line, const std::string& what) {
  throw VolumeFileError("line " + std::to_string(line) + ": " + what);
}

// A whole decimal number without sign that fits 64 bits.
bool ParseCount(const std::string& text, std::uint64_t* value) {
  if (text.empty() || text.size() > 20) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  errno = 0;
  const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
  if (errno == ERANGE) return false;
  *value = v;
  return true;
}

// "LCN:COUNT" with LCN a count or (when sparse is allowed) -1, and COUNT above 0.
bool ParseExtent(const std::string& text, bool sparseAllowed, Extent* extent) {
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  const std::string lcn = text.substr(0, colon);
  std::uint64_t start = 0, count = 0;
  if (!ParseCount(text.substr(colon + 1), &count) || count == 0) return false;
  if (sparseAllowed && lcn == "-1") {
    extent->lcn = kSparseLcn;
  } else if (ParseCount(lcn, &start) && start <= static_cast<std::uint64_t>(INT64_MAX)) {
    extent->lcn = static_cast<std::int64_t>(start);
  } else {
    return false;
  }
  extent->count = count;
  return true;
}

std::uint32_t ParseAttributes(const std::string& list, int line) {
  std::uint32_t bits = 0;
  std::stringstream names(list);
  std::string name;
  while (std::getline(names, name, ',')) {
    bool known = false;
    for (const AttributeName& a : kAttributeNames) {
      if (name == a.name) {
        bits |= a.bit;
        known = true;
      }
    }
    if (!known && name.size() > 2 && name.compare(0, 2, "0x") == 0) {
      char* end = nullptr;
      const unsigned long v = std::strtoul(name.c_str() + 2, &end, 16);
      known = *end == '\0' && v <= 0xFFFFFFFFUL;
      bits |= static_cast<std::uint32_t>(v);
    }
    if (!known) Fail(line, "unknown attribute \"" + name + "\"");
  }
  if (list.empty()) Fail(line, "attrs names no attribute");
  return bits;
}

// The item flags: a word of its own each.
struct FlagName {
  const char* name;
  bool ItemLayout::*flag;
};

constexpr FlagName kFlagNames[] = {
    {"locked", &ItemLayout::locked},        {"denied", &ItemLayout::denied},
    {"unmovable", &ItemLayout::unmovable},  {"in-use", &ItemLayout::inUse},
    {"map-denied", &ItemLayout::mapDenied}, {"map-empty", &ItemLayout::mapEmpty},
    {"junction", &ItemLayout::junction},
};

const FlagName* FindFlag(const std::string& w) {
  for (const FlagName& f : kFlagNames) {
    if (w == f.name) return &f;
  }
  return nullptr;
}

bool IsItemKeyword(const std::string& w) {
  return w == "extents" || w == "resident" || w == "attrs" || w == "size" || FindFlag(w) != nullptr;
}

// The ranges of a used, reserved or taken line, each passed to mark.
template <typename Mark>
void ReadRanges(const std::vector<std::string>& words, int line, Mark mark) {
  if (words.size() < 2) Fail(line, words[0] + " lists no LCN:COUNT");
  for (std::size_t i = 1; i < words.size(); ++i) {
    Extent e;
    if (!ParseExtent(words[i], false, &e))
      Fail(line, words[0] + " " + words[i] + " is not LCN:COUNT");
    try {
      mark(static_cast<std::uint64_t>(e.lcn), e.count);
    } catch (const std::invalid_argument& error) {
      Fail(line, error.what());
    }
  }
}

void WriteRanges(std::ostream& out, const char* name, const std::vector<Extent>& ranges) {
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    out << (i % 16 == 0 ? name : "") << " " << ranges[i].lcn << ":" << ranges[i].count
        << (i % 16 == 15 || i + 1 == ranges.size() ? "\n" : "");
  }
}

void ReadItem(SimulatedVolume& volume, const std::vector<std::string>& words, int line) {
  const bool isFolder = words[0] == "folder";
  if (words.size() < 2) Fail(line, words[0] + " needs a path");
  ItemLayout layout;
  bool resident = false, hasExtents = false, attrsSeen = false;
  for (std::size_t i = 2; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (w == "extents") {
      if (hasExtents) Fail(line, "extents given twice");
      hasExtents = true;
      for (; i + 1 < words.size() && !IsItemKeyword(words[i + 1]); ++i) {
        Extent e;
        if (!ParseExtent(words[i + 1], true, &e))
          Fail(line, "extent " + words[i + 1] + " is not LCN:COUNT");
        layout.extents.push_back(e);
      }
      if (layout.extents.empty()) Fail(line, "extents lists no LCN:COUNT");
    } else if (w == "resident") {
      resident = true;
    } else if (const FlagName* flag = FindFlag(w)) {
      layout.*(flag->flag) = true;
    } else if (w == "size") {
      std::uint64_t bytes = 0;
      if (isFolder) Fail(line, "a folder has no size");
      if (layout.size || i + 1 == words.size() || !ParseCount(words[i + 1], &bytes))
        Fail(line, "size needs one count of bytes");
      layout.size = bytes;
      ++i;
    } else if (w == "attrs") {
      if (attrsSeen || i + 1 == words.size()) Fail(line, "attrs needs one list of attributes");
      attrsSeen = true;
      layout.attributes = ParseAttributes(words[++i], line);
    } else {
      Fail(line, "unknown word \"" + w + "\"");
    }
  }
  if (resident && hasExtents) Fail(line, "a resident item has no extents");
  if (!isFolder && !resident && !hasExtents) Fail(line, "a file needs extents or resident");
  try {
    if (isFolder) {
      volume.AddFolder(words[1], layout);
    } else {
      volume.AddFile(words[1], layout);
    }
  } catch (const std::invalid_argument& e) {
    Fail(line, e.what());
  }
}

std::unique_ptr<SimulatedVolume> ReadVolumeLine(const std::vector<std::string>& words, int line) {
  std::uint64_t clusters = 0, clusterSize = 0;
  if (words.size() != 6 || words[1].size() != 1 || words[2] != "clusters" ||
      words[4] != "cluster_size")
    Fail(line, "expected \"volume <letter> clusters <count> cluster_size <bytes>\"");
  const char drive = words[1][0];
  if (!((drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z')))
    Fail(line, "drive " + words[1] + " is not a letter");
  if (!ParseCount(words[3], &clusters) || clusters == 0)
    Fail(line, "cluster count " + words[3] + " is not a number above 0");
  if (!ParseCount(words[5], &clusterSize) || clusterSize < 512 || clusterSize > 0x80000000ULL ||
      (clusterSize & (clusterSize - 1)) != 0)
    Fail(line, "cluster size " + words[5] + " is not a power of two from 512 on");
  try {
    return std::make_unique<SimulatedVolume>(drive, clusters,
                                             static_cast<std::uint32_t>(clusterSize));
  } catch (const std::invalid_argument& e) {
    Fail(line, e.what());
  }
}

std::string AttributesText(std::uint32_t bits) {
  std::string out;
  for (const AttributeName& a : kAttributeNames) {
    if (bits & a.bit) {
      out += (out.empty() ? "" : ",") + std::string(a.name);
      bits &= ~a.bit;
    }
  }
  if (bits != 0) {
    std::ostringstream hex;
    hex << "0x" << std::hex << bits;
    out += (out.empty() ? "" : ",") + hex.str();
  }
  return out;
}

}  // namespace

SimulatedVolume ReadVolume(std::istream& in) {
  std::unique_ptr<SimulatedVolume> volume;
  std::string text;
  int line = 0;
  while (std::getline(in, text)) {
    ++line;
    const std::size_t hash = text.find('#');
    if (hash != std::string::npos) text.erase(hash);
    std::istringstream split(text);
    std::vector<std::string> words;
    for (std::string w; split >> w;) words.push_back(w);
    if (words.empty()) continue;
    if (words[0] == "volume") {
      if (volume) Fail(line, "a second volume line");
      volume = ReadVolumeLine(words, line);
      continue;
    }
    if (!volume) Fail(line, "the volume line must come first");
    SimulatedVolume& v = *volume;
    if (words[0] == "used") {
      ReadRanges(words, line, [&](std::uint64_t lcn, std::uint64_t n) { v.MarkUsed(lcn, n); });
    } else if (words[0] == "reserved") {
      ReadRanges(words, line, [&](std::uint64_t lcn, std::uint64_t n) { v.MarkReserved(lcn, n); });
    } else if (words[0] == "taken") {
      ReadRanges(words, line, [&](std::uint64_t lcn, std::uint64_t n) { v.MarkTaken(lcn, n); });
    } else if (words[0] == "mft-zone") {
      if (words.size() != 2) Fail(line, "mft-zone needs one LCN:COUNT");
      ReadRanges(words, line, [&](std::uint64_t lcn, std::uint64_t n) { v.SetMftZone(lcn, n); });
    } else if (words[0] == "partial-moves") {
      if (words.size() != 1) Fail(line, "partial-moves stands alone");
      v.partialMoves = true;
    } else if (words[0] == "short-bitmap-answers") {
      std::uint64_t bytes = 0;
      if (words.size() != 2 || !ParseCount(words[1], &bytes) || bytes == 0 || bytes > 0xFFFFFFFFULL)
        Fail(line, "short-bitmap-answers needs one count of bytes above 0");
      v.shortBitmapAnswers = static_cast<std::uint32_t>(bytes);
    } else if (words[0] == "folder" || words[0] == "file") {
      ReadItem(*volume, words, line);
    } else {
      Fail(line, "unknown statement \"" + words[0] + "\"");
    }
  }
  if (!volume) Fail(line, "no volume line");
  return std::move(*volume);
}

SimulatedVolume ReadVolumeText(const std::string& text) {
  std::istringstream in(text);
  return ReadVolume(in);
}

SimulatedVolume LoadVolumeFile(const std::string& fileName) {
  std::ifstream in(fileName);
  if (!in) throw VolumeFileError("line 0: cannot open " + fileName);
  return ReadVolume(in);
}

std::string VolumeText(const SimulatedVolume& volume) {
  std::ostringstream out;
  out << "volume " << volume.Drive() << " clusters " << volume.Clusters() << " cluster_size "
      << volume.BytesPerCluster() << "\n";
  if (volume.partialMoves) out << "partial-moves\n";
  if (volume.shortBitmapAnswers != 0)
    out << "short-bitmap-answers " << volume.shortBitmapAnswers << "\n";
  WriteRanges(out, "used", volume.UsedByNothing());
  WriteRanges(out, "reserved", volume.Reserved());
  WriteRanges(out, "taken", volume.Taken());
  if (volume.MftZone()) WriteRanges(out, "mft-zone", {*volume.MftZone()});
  for (const ItemInfo& item : volume.Items()) {
    out << (item.isFolder ? "folder " : "file ") << item.path;
    if (item.layout.extents.empty()) {
      if (!item.isFolder) out << " resident";
    } else {
      out << " extents";
      for (const Extent& e : item.layout.extents) out << " " << e.lcn << ":" << e.count;
    }
    if (item.layout.size) out << " size " << *item.layout.size;
    const std::uint32_t attributes =
        item.layout.attributes & ~(item.isFolder ? attr::kDirectory : 0u);
    if (attributes != 0) out << " attrs " << AttributesText(attributes);
    for (const FlagName& f : kFlagNames) {
      if (item.layout.*(f.flag)) out << " " << f.name;
    }
    out << "\n";
  }
  return out.str();
}

}  // namespace kestrava::sim
