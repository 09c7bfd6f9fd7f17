#include "search/target_paths.h"

#include <cerrno>
#include <cstdlib>
#include <limits>

#include "common/paths.h"
#include "search/text.h"

namespace kestrava {
namespace {

bool IsDriveLetterPath(const std::string& path) {
  if (path.size() < 2 || path[1] != ':') return false;
  const char c = path[0];
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

bool ParseLevel(const std::string& text, int* value) {
  if (text.empty()) return false;
  std::size_t i = 0;
  if (text[0] == '+' || text[0] == '-') i = 1;
  if (i == text.size()) return false;
  for (std::size_t k = i; k < text.size(); ++k) {
    if (text[k] < '0' || text[k] > '9') return false;
  }
  errno = 0;
  const long long parsed = std::strtoll(text.c_str(), nullptr, 10);
  if (errno == ERANGE || parsed < std::numeric_limits<int>::min() ||
      parsed > std::numeric_limits<int>::max()) {
    return false;
  }
  *value = static_cast<int>(parsed);
  return true;
}

std::string TTargetPaths::ParseLocation(const std::string& location, bool& subfolders,
                                        int& minLevel, int& maxLevel) const {
  std::string folder = location;
  const std::size_t gt = location.find('>');
  if (gt != std::string::npos) {
    folder = location.substr(gt + 1);
    subfolders = true;
    if (gt > 0) {
      const std::string levels = Trim(location.substr(0, gt));
      const std::size_t dash = levels.find('-');
      if (dash != std::string::npos) {
        ParseLevel(Trim(levels.substr(0, dash)), &minLevel);
        ParseLevel(Trim(levels.substr(dash + 1)), &maxLevel);
      } else {
        ParseLevel(levels, &maxLevel);
        minLevel = 0;
      }
    }
  } else {
    const std::size_t lt = location.find('<');
    if (lt != std::string::npos) {
      folder = location.substr(lt + 1);
      subfolders = false;
    }
  }

  folder = Trim(folder);
  // A location that names no folder ("3>" alone, a Paths line that is only a mask) means the
  // current directory, as any other relative location does.
  if (folder.empty()) folder = ".";
  std::string full;
  if (paths_.FullPath(folder, &full) == err::kSuccess) folder = full;
  if (IsDriveLetterPath(folder)) {
    std::string unc;
    if (paths_.UniversalName(folder, &unc) == err::kSuccess && !unc.empty()) folder = unc;
  }
  if (!EndsWithChar(folder, paths_.Separator(), cp_)) folder += paths_.Separator();
  return folder;
}

TTargetPath* TTargetPaths::FindFolder(const std::string& folder) const {
  for (const auto& item : items_) {
    if (SameTextAscii(item->Folder, folder, cp_)) return item.get();
  }
  return nullptr;
}

void TTargetPaths::Delete(std::size_t index) {
  if (index < items_.size()) items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
}

TTargetPath& TTargetPaths::ItemFor(const std::string& folder, bool subfolders, int minLevel,
                                   int maxLevel) {
  TTargetPath* item = FindFolder(folder);
  if (item == nullptr) {
    items_.push_back(std::make_unique<TTargetPath>());
    item = items_.back().get();
  }
  item->Folder = folder;
  item->Subfolders = subfolders;
  // Levels travel as integers and are kept as their low 16 bits.
  item->MinLevel = static_cast<std::uint16_t>(static_cast<unsigned>(minLevel) & 0xFFFFu);
  item->MaxLevel = static_cast<std::uint16_t>(static_cast<unsigned>(maxLevel) & 0xFFFFu);
  return *item;
}

TTargetPath& TTargetPaths::AddFolder(const std::string& location, const TStringList* masks,
                                     bool subfolders, int minLevel, int maxLevel) {
  const std::string folder = ParseLocation(location, subfolders, minLevel, maxLevel);
  TTargetPath& item = ItemFor(folder, subfolders, minLevel, maxLevel);
  if (masks != nullptr && masks->Count() > 0) {
    for (const std::string& mask : *masks) item.Masks.Add(mask);
  } else {
    item.Masks.Add("*.*");
  }
  return item;
}

TTargetPath& TTargetPaths::AddPath(const std::string& path, bool subfolders, int minLevel,
                                   int maxLevel) {
  const std::size_t split = LastPartOffset(
      path, [this](char c) { return paths_.IsNameDelimiter(c); }, cp_);
  const std::string name = path.substr(split);
  const std::string location = path.substr(0, split);
  const std::string folder = ParseLocation(location, subfolders, minLevel, maxLevel);
  TTargetPath& item = ItemFor(folder, subfolders, minLevel, maxLevel);
  item.Masks.Add(name.empty() ? "*.*" : name);
  return item;
}

}  // namespace kestrava
