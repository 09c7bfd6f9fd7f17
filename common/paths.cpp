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

}  // namespace kestrava
