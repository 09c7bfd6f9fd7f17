#pragma once
// The shell's folder browser, modal to the program.
#include <windows.h>

#include <string>

namespace kestrava {

// Lets the user pick a file-system folder under the desktop, with title above the folder tree.
// True, with the folder's path, when the user confirmed a folder; false when the browser was
// cancelled or its choice has no file-system path. Needs COM on the calling thread.
bool BrowseForFolder(HWND owner, const char* title, std::string* path);

}  // namespace kestrava
