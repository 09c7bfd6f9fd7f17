#include "common/system_message.h"

namespace kestrava {

std::string TrimMessageText(std::string text) {
  while (!text.empty()) {
    const unsigned char last = static_cast<unsigned char>(text.back());
    if (last > ' ' && last != '.') break;
    text.pop_back();
  }
  return text;
}

}  // namespace kestrava
