#include "common/paths.h"

namespace kestrava {

std::string AddBackslash(const std::string& path) {
  if (path.empty() || path.back() == '\\') return path;
  return path + '\\';
}

std::string DriveOfPath(const char* path) {
  std::string drive;
  for (int i = 0; i < 2 && path[i] != '\0'; ++i) drive += path[i];
  return drive;
}

std::vector<std::string> CollapsePathParts(const std::string& path, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(separator, start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  return parts;
}

}  // namespace kestrava
