#pragma once
// Names and paths on a simulated volume: NTFS compares names by their upper case (its upcase
// table, which for ASCII raises a-z and compares bytes), and a full path is a drive, a
// colon, a backslash and names.
#include <string>
#include <vector>

namespace kestrava::sim {

char UpperAscii(char c);
std::string UpperAscii(const std::string& text);

// The names of a full path on drive ("C:\Games\a.pak" -> Games, a.pak), with "/" read as "\",
// empty parts and "." dropped and ".." taking back a name, as CreateFile reads a path. False for a
// path that is not a full path on that drive (another drive, a relative path).
bool SplitAbsolutePath(const std::string& path, char drive, std::vector<std::string>* parts);

}  // namespace kestrava::sim
