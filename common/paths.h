#pragma once
// Path routines on ANSI drive-letter paths.
#include <string>
#include <vector>

namespace kestrava {

// The path with one trailing backslash: unchanged when empty or when its last byte already is one.
std::string AddBackslash(const std::string& path);

// The first two characters of an absolute path: the drive letter and its colon ("C:").
// Shorter paths give what there is.
std::string DriveOfPath(const char* path);

// The parts of a path between separators, with empty parts and "." dropped and ".." taking back
// the part before it (never climbing above the first part).
std::vector<std::string> CollapsePathParts(const std::string& path, char separator);

}  // namespace kestrava
