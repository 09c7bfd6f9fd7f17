#pragma once
// Between the system's ANSI code page and UTF-16, for the paths of the defragmentation engine and
// its events. Windows: MultiByteToWideChar / WideCharToMultiByte with CP_ACP; the host's stand-in
// code page maps bytes to the first 256 code points and back (others become "?").
#include <string>

namespace kestrava {

std::wstring AnsiToWide(const std::string& text);
std::string WideToAnsi(const std::wstring& text);

}  // namespace kestrava
