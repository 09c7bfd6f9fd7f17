// Kestrava.exe: one instance per logon, one window, one button.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/startup.h"
#include "app/startup_win.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  // Before anything can load a DLL by name: the folder the exe was started from may be writable by
  // programs that do not run as administrator.
  kestrava::RestrictDllSearch();
  // The program never shows an error and always ends with exit code 0: a failure it did not
  // foresee ends it as silently as a refused second start.
  try {
    std::vector<std::string> arguments;
    for (int i = 1; i < __argc; ++i) arguments.emplace_back(__argv[i]);
    kestrava::StartupWin port(instance, showCommand);
    return kestrava::RunStartup(port, arguments);
  } catch (...) {
    return 0;
  }
}
