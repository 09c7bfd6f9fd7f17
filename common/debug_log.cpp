#include "common/debug_log.h"

#include <atomic>

#include "common/code_page.h"

namespace kestrava {
namespace {
std::atomic<DebugOutputPort*> g_output{nullptr};
}  // namespace

DebugOutputPort* SetDebugOutput(DebugOutputPort* port) { return g_output.exchange(port); }

void DebugLog(const std::string& message) {
  DebugOutputPort* port = g_output.load();
  (port ? *port : PlatformDebugOutput()).Write("Tarnwell:" + message);
}

std::string VisibleText(const std::string& text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const auto control = [](unsigned char byte) { return byte < 0x20 || byte == 0x7F; };
  const AnsiCodePage& cp = SystemCodePage();
  std::string visible;
  visible.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char byte = static_cast<unsigned char>(text[i]);
    if (cp.leadByte[byte] && i + 1 < text.size() &&
        !control(static_cast<unsigned char>(text[i + 1]))) {
      // A double-byte character whose second byte may be 0x5C: one character, not a backslash.
      visible.append(text, i, 2);
      ++i;
    } else if (byte == '\\') {
      visible += "\\\\";
    } else if (control(byte)) {
      visible += "\\x";
      visible += kDigits[byte >> 4];
      visible += kDigits[byte & 0xF];
    } else {
      visible += text[i];
    }
  }
  return visible;
}

}  // namespace kestrava
