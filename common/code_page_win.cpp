#include <windows.h>

#include "common/code_page.h"

namespace kestrava {
namespace {

AnsiCodePage ReadSystemCodePage() {
  AnsiCodePage cp;
  CPINFO info = {};
  if (GetCPInfo(CP_ACP, &info)) {
    // LeadByte holds up to five [first, last] ranges, ended by a pair of zeros.
    for (int i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2) {
      for (int b = info.LeadByte[i]; b <= info.LeadByte[i + 1]; ++b) cp.leadByte[b] = true;
    }
  }
  char table[256];
  for (int i = 0; i < 256; ++i) table[i] = static_cast<char>(i);
  CharLowerBuffA(table, sizeof(table));
  for (int i = 0; i < 256; ++i) cp.lower[i] = static_cast<unsigned char>(table[i]);
  return cp;
}

}  // namespace

const AnsiCodePage& SystemCodePage() {
  static const AnsiCodePage cp = ReadSystemCodePage();
  return cp;
}

}  // namespace kestrava
