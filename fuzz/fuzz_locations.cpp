// ParseLocation, AddFolder/AddPath and SplitToList on arbitrary text: no crash, and the results
// keep their promises (folders end in the separator, list items are trimmed, non-empty and
// distinct ignoring case, levels stay 16-bit).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "search/target_paths.h"
#include "search/text.h"
#include "tests/doubles/memory_file_system.h"

using namespace kestrava;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  const TStringList items = SplitToList(input, ';');
  for (std::size_t i = 0; i < items.Count(); ++i) {
    Check(!items[i].empty());
    Check(Trim(items[i]) == items[i]);
    Check(input.find(items[i]) != std::string::npos);
    for (std::size_t j = 0; j < i; ++j) Check(!SameTextAnsi(items[i], items[j]));
  }

  testing::MemoryFileSystem fs;
  fs.mappedDrives['Z'] = "\\\\server\\share";
  TTargetPaths targets(fs);
  for (const std::string& location : items) {
    bool subfolders = (size & 1) != 0;
    int minLevel = 3;
    int maxLevel = 4;
    const std::string folder = targets.ParseLocation(location, subfolders, minLevel, maxLevel);
    Check(!folder.empty() && folder.back() == '\\');
    if (location.find('>') == std::string::npos && location.find('<') == std::string::npos) {
      Check(subfolders == ((size & 1) != 0) && minLevel == 3 && maxLevel == 4);
    }
    TTargetPath& added = targets.AddFolder(location, &items, true, minLevel, maxLevel);
    Check(targets.FindFolder(added.Folder) != nullptr);
    TTargetPath& path = targets.AddPath(location, false, 0, 0);
    Check(!path.Masks.Empty() && !path.Folder.empty() && path.Folder.back() == '\\');
  }
  return 0;
}
