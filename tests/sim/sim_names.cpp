#include "tests/sim/sim_names.h"

#include <algorithm>

#include "common/paths.h"

namespace kestrava::sim {

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c; }

std::string UpperAscii(const std::string& text) {
  std::string out(text);
  for (char& c : out) c = UpperAscii(c);
  return out;
}

bool SplitAbsolutePath(const std::string& path, char drive, std::vector<std::string>* parts) {
  if (path.size() < 3 || UpperAscii(path[0]) != UpperAscii(drive) || path[1] != ':' ||
      (path[2] != '\\' && path[2] != '/'))
    return false;
  std::string rest = path.substr(2);
  std::replace(rest.begin(), rest.end(), '/', '\\');
  *parts = CollapsePathParts(rest, '\\');
  return true;
}

}  // namespace kestrava::sim
