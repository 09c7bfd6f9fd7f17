#include "common/code_page.h"

namespace kestrava {
namespace {

// Windows-1252, the ANSI code page of Western European Windows: single-byte, with the Latin-1
// letters and a few more in 0x80-0x9F lower-casing as CharLowerBuffA does.
AnsiCodePage Windows1252() {
  AnsiCodePage cp;
  for (int i = 0; i < 256; ++i) cp.lower[i] = static_cast<unsigned char>(i);
  for (int c = 'A'; c <= 'Z'; ++c) cp.lower[c] = static_cast<unsigned char>(c + 32);
  for (int c = 0xC0; c <= 0xDE; ++c) {
    if (c != 0xD7) cp.lower[c] = static_cast<unsigned char>(c + 32);
  }
  cp.lower[0x8A] = 0x9A;  // S caron
  cp.lower[0x8C] = 0x9C;  // OE
  cp.lower[0x8E] = 0x9E;  // Z caron
  cp.lower[0x9F] = 0xFF;  // Y diaeresis
  return cp;
}

}  // namespace

const AnsiCodePage& SystemCodePage() {
  static const AnsiCodePage cp = Windows1252();
  return cp;
}

}  // namespace kestrava
