#include "app/folder_browser_win.h"

#include <objbase.h>
#include <shlobj.h>

#include <vector>

#include "common/scope_guard.h"
#include "win32/unique_handle.h"

namespace kestrava {
namespace {

void FreeItemIdList(LPITEMIDLIST list) { CoTaskMemFree(list); }
using UniqueItemIdList = UniqueHandle<LPITEMIDLIST, FreeItemIdList, kNullHandle>;

// Disables the calling thread's other enabled top-level windows for one scope. The owner is left
// to the browser, which disables it and enables it again before it closes: were it still disabled
// then, Windows would hand the activation to another program.
class ThreadWindowsDisabled {
 public:
  explicit ThreadWindowsDisabled(HWND owner) : owner_(owner) {
    EnumThreadWindows(GetCurrentThreadId(), Collect, reinterpret_cast<LPARAM>(this));
  }
  ~ThreadWindowsDisabled() {
    for (HWND window : disabled_) EnableWindow(window, TRUE);
  }
  ThreadWindowsDisabled(const ThreadWindowsDisabled&) = delete;
  ThreadWindowsDisabled& operator=(const ThreadWindowsDisabled&) = delete;

 private:
  static BOOL CALLBACK Collect(HWND window, LPARAM param) {
    auto* self = reinterpret_cast<ThreadWindowsDisabled*>(param);
    if (window != self->owner_ && IsWindowVisible(window) && IsWindowEnabled(window)) {
      EnableWindow(window, FALSE);
      self->disabled_.push_back(window);
    }
    return TRUE;
  }
  HWND owner_;
  std::vector<HWND> disabled_;
};

}  // namespace

bool BrowseForFolder(HWND owner, const char* title, std::string* path) {
  char displayName[MAX_PATH] = "";
  BROWSEINFOA info{};
  info.hwndOwner = owner;
  info.pidlRoot = nullptr;  // the desktop
  info.pszDisplayName = displayName;
  info.lpszTitle = title;
  info.ulFlags = BIF_RETURNONLYFSDIRS;

  UniqueItemIdList chosen;
  {
    ThreadWindowsDisabled modal(owner);
    // No "There is no disk in the drive" boxes while the user walks through removable drives.
    const UINT previousErrorMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    const auto restoreErrorMode =
        MakeScopeExit([previousErrorMode] { SetErrorMode(previousErrorMode); });
    chosen.Reset(SHBrowseForFolderA(&info));
  }
  if (!chosen) return false;
  char folder[MAX_PATH] = "";
  if (!SHGetPathFromIDListA(chosen.Get(), folder) || folder[0] == '\0') return false;
  *path = folder;
  return true;
}

}  // namespace kestrava
