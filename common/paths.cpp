#include "common/paths.h"

namespace kestrava {

std::string AddBackslash(const std::string& path, const AnsiCodePage& cp) {
  if (path.empty() || EndsWithChar(path, '\\', cp)) return path;
  return path + '\\';
}

std::string DriveOfPath(const char* path) {
  std::string drive;
  for (int i = 0; i < 2 && path[i] != '\0'; ++i) drive += path[i];
  return drive;
}

std::vector<std::string> CollapsePathParts(const std::string& path, char separator,
                                           const AnsiCodePage& cp) {
  std::vector<std::string> parts;
  auto take = [&parts](const std::string& part) {
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
  };
  std::size_t start = 0;
  for (std::size_t i = 0; i < path.size();) {
    const std::size_t length = path[i] == '\0' ? 1 : cp.CharLength(path.c_str() + i);
    if (length == 1 && path[i] == separator) {
      take(path.substr(start, i - start));
      start = i + 1;
    }
    i += length;
  }
  take(path.substr(start));
  return parts;
}

}  // namespace kestrava
