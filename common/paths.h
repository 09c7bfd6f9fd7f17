#pragma once
// Path routines on ANSI drive-letter paths. They step through a path by the characters of the
// code page: in a double-byte code page a trail byte may equal a separator (Shift-JIS "表" is
// 0x95 0x5C) without being one.
#include <cstddef>
#include <string>
#include <vector>

#include "common/code_page.h"

namespace kestrava {

// The offset where the last part of path begins: just after its last character for which
// isDelimiter(byte) holds, or 0. Only single-byte characters can be delimiters.
template <typename IsDelimiter>
std::size_t LastPartOffset(const std::string& path, IsDelimiter isDelimiter,
                           const AnsiCodePage& cp = SystemCodePage()) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < path.size();) {
    const std::size_t length = path[i] == '\0' ? 1 : cp.CharLength(path.c_str() + i);
    if (length == 1 && isDelimiter(path[i])) start = i + 1;
    i += length;
  }
  return start;
}

// True when the last character of path is the single-byte character c.
inline bool EndsWithChar(const std::string& path, char c,
                         const AnsiCodePage& cp = SystemCodePage()) {
  return !path.empty() && LastPartOffset(
                              path, [c](char b) { return b == c; }, cp) == path.size();
}

// The path with one trailing backslash: unchanged when empty or when its last character already
// is one.
std::string AddBackslash(const std::string& path, const AnsiCodePage& cp = SystemCodePage());

// The first two characters of an absolute path: the drive letter and its colon ("C:").
// Shorter paths give what there is.
std::string DriveOfPath(const char* path);

// The parts of a path between separators, with empty parts and "." dropped and ".." taking back
// the part before it (never climbing above the first part).
std::vector<std::string> CollapsePathParts(const std::string& path, char separator,
                                           const AnsiCodePage& cp = SystemCodePage());

}  // namespace kestrava
