#include "common/wide.h"

namespace kestrava {

std::wstring AnsiToWide(const std::string& text) {
  std::wstring wide;
  wide.reserve(text.size());
  for (char c : text) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return wide;
}

std::string WideToAnsi(const std::wstring& text) {
  std::string ansi;
  ansi.reserve(text.size());
  for (wchar_t c : text) ansi.push_back(c >= 0 && c < 256 ? static_cast<char>(c) : '?');
  return ansi;
}

}  // namespace kestrava
