// kdrive: drives and inspects Kestrava's main window from another process, for the end-to-end
// tests that run under Wine. One command per run; prints plain lines on stdout.
//
//   kdrive [-w TITLE] COMMAND [ARGS]      TITLE defaults to "Tarnwell Kestrava FREE"
//
//   wait [SECONDS]          until a top-level window with the title and child controls exists
//   wait-gone [SECONDS]     until no top-level window with the title exists
//   count                   prints how many top-level windows carry the title
//   visible                 prints 1 when one of them is visible, else 0
//   controls                prints "CLASS|TEXT" for every control of the main window, in Z order
//   buttons                 prints "KIND|TEXT" for every button-class control, in Z order; KIND is
//                           push, group, checked or unchecked (check boxes), other
//   gettext CLASS           prints the text of the first control of that class
//   settext CLASS TEXT      sets the text of the first control of that class
//   panels                  prints "INDEX|TEXT" for every panel of the status bar
//   click TEXT              posts BM_CLICK to the button captioned TEXT
//   click-watch TEXT [SECONDS]  clicks that button, then prints "0|TEXT" each time panel 0
//                           changes until the button, disabled meanwhile, is enabled again:
//                           prints "ended MS" (exit 0), else "timeout" or "not seen running"
//   settext-wide CLASS TEXT like settext, as UTF-16; \uXXXX in TEXT stands for that unit
//   rects                   prints "screen W H", "workarea L T R B", "window L T R B", "client L T R B"
//                           and "N|PARENT|L T R B|L T R B|CLASS|TEXT" for every visible control: its
//                           number, its parent's (-1: the main window), its window and client
//                           rectangles, all in screen coordinates
//   resize W H              asks the main window to take that outer size, prints the size it took
//   close                   posts WM_CLOSE to the main window
//   ping SECONDS            sends WM_NULL to the main window every 20 ms for SECONDS and prints
//                           "worst MS" (the slowest round trip) and "sent N"
//   dialog [SECONDS]        waits for a dialog box (#32770) of the main window's process, prints
//                           its title
//   dialog-cancel           presses Cancel on that dialog and waits until it is gone
//   browse-choose PATH      selects PATH (D:\ or D:\FOLDER\...) in that folder browser's tree view,
//                           presses OK and waits until the dialog is gone
//   listen SECONDS          creates a hidden top-level window with the title, prints "ready", then
//                           "message WPARAM LPARAM" for each message 1579 it receives until
//                           WM_CLOSE or SECONDS, then "posted=N" (wParam and lParam 0) and
//                           "other=N" (the rest)
//   log-off                 does to the main window what a log-off does: sends WM_QUERYENDSESSION
//                           and prints "query ANSWER MS" (1: it may end), then, when it may,
//                           WM_ENDSESSION (TRUE, ENDSESSION_LOGOFF) and prints "end MS", the time
//                           the window took to return from it (60 s at most)
//   hold-mutex NAME SECONDS creates the named mutex, prints "held ERROR" (GetLastError of the
//                           creation), keeps it until "release NAME" or SECONDS
//   release NAME            lets a hold-mutex of that name end
//   syscommand ID           posts WM_SYSCOMMAND ID (decimal or 0x hex) to the window, as a click on
//                           a system menu item does
//   rows                    prints the first list view of the window: its column headers, then one
//                           line per row, the cells separated by tabs
//   clipboard               prints the clipboard's text (CF_TEXT) exactly as it is, CR LF and all
//   columns                 prints the first list view's client width ("client W"), then one line
//                           per column: its header, its left edge and its width, tab-separated
//
// Exit code 0 on success, 1 when the window, control or condition was not found in time, 2 on a
// usage error.
#include <windows.h>
#include <commctrl.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "win32/window_text.h"

using kestrava::WindowText;

namespace {

const UINT kWakeUpMessage = WM_USER + 555;  // 1579
const UINT kSendTimeoutMs = 5000;

std::string g_title = "Tarnwell Kestrava FREE";

void Print(const std::string& line) {
  fwrite(line.data(), 1, line.size(), stdout);
  fputc('\n', stdout);
  fflush(stdout);
}

std::string ClassOf(HWND hwnd) {
  char name[256] = {0};
  GetClassNameA(hwnd, name, sizeof name);
  return name;
}

// WM_GETTEXT is marshalled across processes; the timeout keeps a hung target from hanging us.
std::string TextOf(HWND hwnd) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                           &length)) {
    return std::string();
  }
  std::vector<char> buffer(length + 2, '\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutA(hwnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                      SMTO_ABORTIFHUNG, kSendTimeoutMs, &copied);
  return std::string(buffer.data());
}

// The enumeration callbacks must be stdcall, which lambdas are not on i686.
BOOL CALLBACK AddIfTitled(HWND hwnd, LPARAM param) {
  // Top-level windows of other processes answer GetWindowTextA from the window's own data.
  if (WindowText(hwnd) == g_title) reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
  return TRUE;
}

BOOL CALLBACK AddAny(HWND hwnd, LPARAM param) {
  reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
  return TRUE;
}

std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> found;
  EnumWindows(AddIfTitled, reinterpret_cast<LPARAM>(&found));
  return found;
}

std::vector<HWND> Descendants(HWND parent) {
  std::vector<HWND> found;
  EnumChildWindows(parent, AddAny, reinterpret_cast<LPARAM>(&found));
  return found;
}

// The main window: of the top-level windows with the title, the first that has controls (a
// framework may also keep a hidden application window with the same title).
HWND MainWindow() {
  HWND fallback = nullptr;
  for (HWND hwnd : TopLevelWindows()) {
    if (GetWindow(hwnd, GW_CHILD) != nullptr) return hwnd;
    if (fallback == nullptr) fallback = hwnd;
  }
  return fallback;
}

HWND MainWindowOrComplain() {
  HWND hwnd = MainWindow();
  if (hwnd == nullptr) fprintf(stderr, "kdrive: no window titled \"%s\"\n", g_title.c_str());
  return hwnd;
}

HWND FirstOfClass(HWND parent, const std::string& className) {
  for (HWND child : Descendants(parent)) {
    if (lstrcmpiA(ClassOf(child).c_str(), className.c_str()) == 0) return child;
  }
  return nullptr;
}

// The first control of the class in the main window, or nullptr after saying what is missing.
HWND ControlOrComplain(const std::string& className) {
  HWND main = MainWindowOrComplain();
  if (main == nullptr) return nullptr;
  HWND control = FirstOfClass(main, className);
  if (control == nullptr) fprintf(stderr, "kdrive: no control of class %s\n", className.c_str());
  return control;
}

DWORD Deadline(double seconds) { return GetTickCount() + static_cast<DWORD>(seconds * 1000.0); }
bool Before(DWORD deadline) { return static_cast<LONG>(deadline - GetTickCount()) > 0; }

int Wait(double seconds) {
  DWORD deadline = Deadline(seconds);
  do {
    HWND hwnd = MainWindow();
    if (hwnd != nullptr && GetWindow(hwnd, GW_CHILD) != nullptr) return 0;
    Sleep(50);
  } while (Before(deadline));
  fprintf(stderr, "kdrive: no window titled \"%s\" after %.1f s\n", g_title.c_str(), seconds);
  return 1;
}

int WaitGone(double seconds) {
  DWORD deadline = Deadline(seconds);
  do {
    if (TopLevelWindows().empty()) return 0;
    Sleep(50);
  } while (Before(deadline));
  fprintf(stderr, "kdrive: window \"%s\" still there after %.1f s\n", g_title.c_str(), seconds);
  return 1;
}

int Controls() {
  HWND main = MainWindowOrComplain();
  if (main == nullptr) return 1;
  for (HWND child : Descendants(main)) Print(ClassOf(child) + "|" + TextOf(child));
  return 0;
}

int GetText(const std::string& className) {
  HWND control = ControlOrComplain(className);
  if (control == nullptr) return 1;
  Print(TextOf(control));
  return 0;
}

int SetText(const std::string& className, const std::string& text) {
  HWND control = ControlOrComplain(className);
  if (control == nullptr) return 1;
  DWORD_PTR result = 0;
  const bool sent =
      SendMessageTimeoutA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                          SMTO_ABORTIFHUNG, kSendTimeoutMs, &result) != 0;
  return sent && result ? 0 : 1;
}

// Memory in another process, for messages whose pointers Windows does not marshal between
// processes (SB_GETTEXTA, TVM_GETITEMA): the target reads and writes it as its own.
class RemoteBuffer {
 public:
  RemoteBuffer(HWND owner, SIZE_T size) : size_(size) {
    DWORD pid = 0;
    GetWindowThreadProcessId(owner, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_ == nullptr) {
      fprintf(stderr, "kdrive: cannot open process %lu (error %lu)\n", pid, GetLastError());
      return;
    }
    address_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    if (address_ == nullptr)
      fprintf(stderr, "kdrive: VirtualAllocEx failed (error %lu)\n", GetLastError());
  }
  ~RemoteBuffer() {
    if (address_ != nullptr) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    if (process_ != nullptr) CloseHandle(process_);
  }
  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;

  bool Ok() const { return address_ != nullptr; }
  LPARAM Address() const { return reinterpret_cast<LPARAM>(address_); }
  // The whole buffer: the bytes given, then zeros.
  bool Write(const std::string& bytes) {
    std::vector<char> local(size_, '\0');
    bytes.copy(local.data(), std::min<SIZE_T>(bytes.size(), size_ - 1));
    return WriteProcessMemory(process_, address_, local.data(), size_, nullptr) != 0;
  }
  // The buffer from OFFSET up to the next zero.
  bool Read(std::string* text, SIZE_T offset = 0) const {
    std::vector<char> local(size_ + 1, '\0');
    if (!ReadProcessMemory(process_, address_, local.data(), size_, nullptr)) return false;
    *text = local.data() + std::min(offset, size_);
    return true;
  }

 private:
  SIZE_T size_;
  HANDLE process_ = nullptr;
  void* address_ = nullptr;
};

// Reads panel INDEX of the status bar through REMOTE; false when the bar does not answer.
bool ReadPanel(HWND bar, RemoteBuffer& remote, SIZE_T bufferSize, DWORD_PTR index,
               std::string* text) {
  // A zeroed buffer first, so that a panel the call does not fill reads as empty.
  DWORD_PTR result = 0;
  return remote.Write("") &&
         SendMessageTimeoutA(bar, SB_GETTEXTA, index, remote.Address(), SMTO_ABORTIFHUNG,
                             kSendTimeoutMs, &result) &&
         LOWORD(result) < bufferSize && remote.Read(text);
}

const SIZE_T kPanelBufferSize = 4096;

int Panels() {
  HWND bar = ControlOrComplain(STATUSCLASSNAMEA);
  if (bar == nullptr) return 1;
  RemoteBuffer remote(bar, kPanelBufferSize);
  if (!remote.Ok()) return 1;
  DWORD_PTR parts = 0;
  SendMessageTimeoutA(bar, SB_GETPARTS, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &parts);
  for (DWORD_PTR i = 0; i < parts; ++i) {
    std::string text;
    if (!ReadPanel(bar, remote, kPanelBufferSize, i, &text)) {
      fprintf(stderr, "kdrive: cannot read panel %u\n", static_cast<unsigned>(i));
      return 1;
    }
    Print(std::to_string(i) + "|" + text);
  }
  return 0;
}

// What a user sees of a button-class control: a push button, a group box or a check box and
// whether it is ticked.
std::string ButtonKind(HWND button) {
  switch (GetWindowLongA(button, GWL_STYLE) & BS_TYPEMASK) {
    case BS_PUSHBUTTON:
    case BS_DEFPUSHBUTTON: return "push";
    case BS_GROUPBOX: return "group";
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX: {
      DWORD_PTR state = 0;
      SendMessageTimeoutA(button, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &state);
      return state == BST_CHECKED ? "checked" : "unchecked";
    }
    default: return "other";
  }
}

int Buttons() {
  HWND main = MainWindowOrComplain();
  if (main == nullptr) return 1;
  for (HWND child : Descendants(main)) {
    if (lstrcmpiA(ClassOf(child).c_str(), "Button") == 0)
      Print(ButtonKind(child) + "|" + TextOf(child));
  }
  return 0;
}

HWND ButtonOrComplain(const std::string& caption) {
  HWND main = MainWindowOrComplain();
  if (main == nullptr) return nullptr;
  for (HWND child : Descendants(main)) {
    if (lstrcmpiA(ClassOf(child).c_str(), "Button") == 0 && TextOf(child) == caption) return child;
  }
  fprintf(stderr, "kdrive: no button \"%s\"\n", caption.c_str());
  return nullptr;
}

int Click(const std::string& caption) {
  HWND button = ButtonOrComplain(caption);
  if (button == nullptr) return 1;
  // Posted, not sent: the click may open a modal loop (the folder browser) that would keep a
  // SendMessage from returning.
  return PostMessageA(button, BM_CLICK, 0, 0) ? 0 : 1;
}

// A run's progress texts live in panel 0 only while it runs (the end clears the panel), and a
// short run is over before a second kdrive could start: one process clicks and watches. The button
// is disabled for the run, so the run is over once it has been seen disabled and is enabled again.
int ClickWatch(const std::string& caption, double seconds) {
  HWND button = ButtonOrComplain(caption);
  HWND bar = ControlOrComplain(STATUSCLASSNAMEA);
  if (button == nullptr || bar == nullptr) return 1;
  RemoteBuffer remote(bar, kPanelBufferSize);
  if (!remote.Ok()) return 1;
  const DWORD started = GetTickCount();
  const DWORD deadline = Deadline(seconds);
  if (!PostMessageA(button, BM_CLICK, 0, 0)) return 1;
  bool seenDisabled = false;
  std::string last;
  do {
    const bool enabled = IsWindowEnabled(button) != 0;
    seenDisabled = seenDisabled || !enabled;
    std::string text;
    if (!IsWindow(bar)) break;
    if (ReadPanel(bar, remote, kPanelBufferSize, 0, &text) && text != last) {
      Print("0|" + text);
      last = text;
    }
    if (seenDisabled && enabled) {
      Print("ended " + std::to_string(GetTickCount() - started));
      return 0;
    }
    Sleep(1);
  } while (Before(deadline));
  Print(seenDisabled ? "timeout" : "not seen running");
  return 1;
}

// TEXT with each backslash-u-XXXX replaced by that UTF-16 unit: the command line reaches us in
// the ANSI code page, which cannot carry every character a user may paste.
std::wstring Unescaped(const std::string& text) {
  std::wstring wide;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "\\u") == 0 && i + 6 <= text.size()) {
      wide += static_cast<wchar_t>(strtoul(text.substr(i + 2, 4).c_str(), nullptr, 16));
      i += 5;
    } else {
      wide += static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
    }
  }
  return wide;
}

int SetTextWide(const std::string& className, const std::string& text) {
  HWND control = ControlOrComplain(className);
  if (control == nullptr) return 1;
  const std::wstring wide = Unescaped(text);
  DWORD_PTR result = 0;
  const bool sent =
      SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()),
                          SMTO_ABORTIFHUNG, kSendTimeoutMs, &result) != 0;
  return sent && result ? 0 : 1;
}

std::string Edges(const RECT& r) {
  return std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right) + " " +
         std::to_string(r.bottom);
}

// GetClientRect in screen coordinates.
RECT ScreenClientRect(HWND hwnd) {
  RECT r = {0, 0, 0, 0};
  GetClientRect(hwnd, &r);
  MapWindowPoints(hwnd, nullptr, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

int Rects() {
  HWND main = MainWindowOrComplain();
  if (main == nullptr) return 1;
  RECT r = {0, 0, 0, 0};
  Print("screen " + std::to_string(GetSystemMetrics(SM_CXSCREEN)) + " " +
        std::to_string(GetSystemMetrics(SM_CYSCREEN)));
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &r, 0);
  Print("workarea " + Edges(r));
  GetWindowRect(main, &r);
  Print("window " + Edges(r));
  Print("client " + Edges(ScreenClientRect(main)));
  // EnumChildWindows visits a parent before its children, so a parent's number is always known.
  const std::vector<HWND> children = Descendants(main);
  for (size_t i = 0; i < children.size(); ++i) {
    HWND child = children[i];
    if (!IsWindowVisible(child)) continue;
    int parent = -1;
    for (size_t j = 0; j < i; ++j) {
      if (children[j] == GetParent(child)) parent = static_cast<int>(j);
    }
    GetWindowRect(child, &r);
    Print(std::to_string(i) + "|" + std::to_string(parent) + "|" + Edges(r) + "|" + Edges(ScreenClientRect(child)) +
          "|" + ClassOf(child) + "|" + TextOf(child));
  }
  return 0;
}

// SetWindowPos of another process's window is carried out by its own thread, which consults
// WM_GETMINMAXINFO like an interactive sizing does.
int Resize(int width, int height) {
  HWND main = MainWindowOrComplain();
  if (main == nullptr) return 1;
  if (!SetWindowPos(main, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE)) {
    fprintf(stderr, "kdrive: SetWindowPos failed (error %lu)\n", GetLastError());
    return 1;
  }
  RECT r = {0, 0, 0, 0};
  GetWindowRect(main, &r);
  Print(std::to_string(r.right - r.left) + " " + std::to_string(r.bottom - r.top));
  return 0;
}

int Close() {
  HWND main = MainWindowOrComplain();
  if (main == nullptr) return 1;
  return PostMessageA(main, WM_CLOSE, 0, 0) ? 0 : 1;
}

struct DialogSearch {
  DWORD pid;
  HWND found;
};

BOOL CALLBACK MatchDialog(HWND hwnd, LPARAM param) {
  DialogSearch* search = reinterpret_cast<DialogSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(hwnd, &owner);
  if (owner == search->pid && ClassOf(hwnd) == "#32770" && IsWindowVisible(hwnd)) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

HWND DialogOf(DWORD pid) {
  DialogSearch search = {pid, nullptr};
  EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

DWORD MainProcess() {
  HWND main = MainWindowOrComplain();
  DWORD pid = 0;
  if (main != nullptr) GetWindowThreadProcessId(main, &pid);
  return pid;
}

int Dialog(double seconds) {
  DWORD pid = MainProcess();
  if (pid == 0) return 1;
  DWORD deadline = Deadline(seconds);
  do {
    HWND dialog = DialogOf(pid);
    if (dialog != nullptr) {
      Print(WindowText(dialog));
      return 0;
    }
    Sleep(50);
  } while (Before(deadline));
  fprintf(stderr, "kdrive: no dialog box after %.1f s\n", seconds);
  return 1;
}

// The dialog box of the main window's process, or nullptr after saying that there is none.
HWND DialogOrComplain() {
  DWORD pid = MainProcess();
  if (pid == 0) return nullptr;
  HWND dialog = DialogOf(pid);
  if (dialog == nullptr) fprintf(stderr, "kdrive: no dialog box\n");
  return dialog;
}

// Presses the dialog's button IDOK or IDCANCEL and waits until the dialog is gone.
int PressDialogButton(HWND dialog, int button) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
  DWORD deadline = Deadline(10);
  do {
    if (!IsWindow(dialog)) return 0;
    Sleep(50);
  } while (Before(deadline));
  fprintf(stderr, "kdrive: the dialog box is still open\n");
  return 1;
}

int DialogCancel() {
  HWND dialog = DialogOrComplain();
  return dialog == nullptr ? 1 : PressDialogButton(dialog, IDCANCEL);
}

// The folder browser's tree view, seen from outside. Item handles pass between processes as they
// are; an item's text needs a TVITEMA and its text buffer in the browser's process.
class FolderTree {
 public:
  explicit FolderTree(HWND tree) : tree_(tree), remote_(tree, sizeof(TVITEMA) + MAX_PATH + 1) {}

  bool Ok() const { return remote_.Ok(); }
  HTREEITEM Root() const { return Next(nullptr, TVGN_ROOT); }

  // Expands the item as a click on its "+" would (the browser fills it in then) and lists its
  // children.
  std::vector<HTREEITEM> Children(HTREEITEM item) {
    Send(TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
    std::vector<HTREEITEM> children;
    for (HTREEITEM child = Next(item, TVGN_CHILD); child != nullptr;
         child = Next(child, TVGN_NEXT)) {
      children.push_back(child);
    }
    return children;
  }

  std::string Text(HTREEITEM item) {
    TVITEMA query{};
    query.mask = TVIF_HANDLE | TVIF_TEXT;
    query.hItem = item;
    query.pszText = reinterpret_cast<char*>(remote_.Address() + sizeof(TVITEMA));
    query.cchTextMax = MAX_PATH;
    std::string text;
    if (!remote_.Write(std::string(reinterpret_cast<const char*>(&query), sizeof query)) ||
        !Send(TVM_GETITEMA, 0, remote_.Address()) || !remote_.Read(&text, sizeof(TVITEMA))) {
      return std::string();
    }
    return text;
  }

  // Selects the item as a click on it would: the browser takes it as the folder to return.
  bool Select(HTREEITEM item) const {
    return Send(TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item)) != 0;
  }

 private:
  DWORD_PTR Send(UINT message, WPARAM wParam, LPARAM lParam) const {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(tree_, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result);
    return result;
  }
  HTREEITEM Next(HTREEITEM item, WPARAM relation) const {
    return reinterpret_cast<HTREEITEM>(
        Send(TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
  }

  HWND tree_;
  RemoteBuffer remote_;
};

// The drive's item: the browser shows drives one or two levels below the desktop (under "My
// Computer"), named like "Local Disk (D:)". SEEN collects the texts looked at, for the message
// when the drive is not there.
HTREEITEM FindDrive(FolderTree& tree, const std::string& drive, std::string* seen) {
  const std::string mark = "(" + drive + ")";
  std::vector<HTREEITEM> level = {tree.Root()};
  for (int depth = 0; depth < 3; ++depth) {
    std::vector<HTREEITEM> below;
    for (HTREEITEM item : level) {
      const std::string text = tree.Text(item);
      if (text.find(mark) != std::string::npos) return item;
      *seen += (seen->empty() ? "" : ", ") + text;
      if (depth < 2) {
        for (HTREEITEM child : tree.Children(item)) below.push_back(child);
      }
    }
    level = below;
  }
  return nullptr;
}

HTREEITEM FindChild(FolderTree& tree, HTREEITEM parent, const std::string& name) {
  for (HTREEITEM child : tree.Children(parent)) {
    if (lstrcmpiA(tree.Text(child).c_str(), name.c_str()) == 0) return child;
  }
  return nullptr;
}

// Clicks through the browser's tree to PATH ("D:\" or "D:\Games\Old") and presses OK.
int BrowseChoose(const std::string& path) {
  HWND dialog = DialogOrComplain();
  if (dialog == nullptr) return 1;
  HWND treeView = FirstOfClass(dialog, WC_TREEVIEWA);
  if (treeView == nullptr || path.size() < 2 || path[1] != ':') {
    fprintf(stderr, "kdrive: no folder tree, or \"%s\" is not a path on a drive\n", path.c_str());
    return 1;
  }
  FolderTree tree(treeView);
  if (!tree.Ok()) return 1;
  std::string seen;
  HTREEITEM item = FindDrive(tree, path.substr(0, 2), &seen);
  if (item == nullptr) {
    fprintf(stderr, "kdrive: no drive %s in the folder browser (seen: %s)\n",
            path.substr(0, 2).c_str(), seen.c_str());
    return 1;
  }
  std::string reached = path.substr(0, 2);
  std::string rest = path.substr(2);
  while (item != nullptr && !rest.empty()) {
    const std::size_t start = rest.find_first_not_of('\\');
    if (start == std::string::npos) break;
    const std::size_t end = rest.find('\\', start);
    const std::string name = rest.substr(start, end == std::string::npos ? end : end - start);
    rest = end == std::string::npos ? std::string() : rest.substr(end);
    item = FindChild(tree, item, name);
    reached += "\\" + name;
  }
  if (item == nullptr || !tree.Select(item)) {
    fprintf(stderr, "kdrive: \"%s\" not found in the folder browser\n", reached.c_str());
    return 1;
  }
  return PressDialogButton(dialog, IDOK);
}

struct ListenState {
  int posted = 0;
  int other = 0;
};
ListenState g_listen;

LRESULT CALLBACK ListenProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kWakeUpMessage) {
    if (wParam == 0 && lParam == 0) {
      ++g_listen.posted;
    } else {
      ++g_listen.other;
    }
    // One line per message as it comes: a test can tell which start sent it.
    Print("message " + std::to_string(wParam) + " " + std::to_string(lParam));
    return 0;
  }
  if (message == WM_CLOSE) {
    DestroyWindow(hwnd);
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

int Listen(double seconds) {
  WNDCLASSA wc;
  ZeroMemory(&wc, sizeof wc);
  wc.lpfnWndProc = ListenProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "KdriveListener";
  if (!RegisterClassA(&wc)) return 1;
  // Created without WS_VISIBLE and never shown, like an instance started with autorun.
  HWND hwnd = CreateWindowExA(0, wc.lpszClassName, g_title.c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 200,
                              100, nullptr, nullptr, wc.hInstance, nullptr);
  if (hwnd == nullptr) {
    fprintf(stderr, "kdrive: CreateWindowEx failed (error %lu)\n", GetLastError());
    return 1;
  }
  Print("ready");
  UINT_PTR timer = SetTimer(nullptr, 0, static_cast<UINT>(seconds * 1000.0), nullptr);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER && msg.hwnd == nullptr && msg.wParam == timer) {
      DestroyWindow(hwnd);
      continue;
    }
    // Posted messages for the window arrive here; count them in its procedure.
    DispatchMessageA(&msg);
  }
  Print("posted=" + std::to_string(g_listen.posted));
  Print("other=" + std::to_string(g_listen.other));
  return 0;
}

std::string ReleaseEventName(const std::string& mutexName) { return "kdrive release " + mutexName; }

int HoldMutex(const std::string& name, double seconds) {
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, ReleaseEventName(name).c_str());
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
  DWORD error = GetLastError();
  if (mutex == nullptr) {
    fprintf(stderr, "kdrive: CreateMutex failed (error %lu)\n", error);
    return 1;
  }
  Print("held " + std::to_string(error));
  WaitForSingleObject(release, static_cast<DWORD>(seconds * 1000.0));
  CloseHandle(mutex);
  CloseHandle(release);
  return 0;
}

int Release(const std::string& name) {
  HANDLE release = OpenEventA(EVENT_MODIFY_STATE, FALSE, ReleaseEventName(name).c_str());
  if (release == nullptr) return 1;
  SetEvent(release);
  CloseHandle(release);
  return 0;
}

// How quickly the window thread answers, while it is busy with whatever it is doing.
int Ping(double seconds) {
  HWND main = MainWindowOrComplain();
  if (main == nullptr) return 1;
  const DWORD deadline = Deadline(seconds);
  DWORD worst = 0;
  int sent = 0;
  do {
    const DWORD start = GetTickCount();
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(main, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result)) worst = 5000;
    worst = std::max(worst, GetTickCount() - start);
    ++sent;
    Sleep(20);
  } while (Before(deadline));
  Print("worst " + std::to_string(worst));
  Print("sent " + std::to_string(sent));
  return 0;
}

int LogOff() {
  HWND main = MainWindowOrComplain();
  if (main == nullptr) return 1;
  DWORD start = GetTickCount();
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutA(main, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 60000,
                           &answer)) {
    Print("query timeout");
    return 1;
  }
  Print("query " + std::to_string(answer != 0 ? 1 : 0) + " " +
        std::to_string(GetTickCount() - start));
  if (answer == 0) return 0;
  start = GetTickCount();
  DWORD_PTR ignored = 0;
  if (!SendMessageTimeoutA(main, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 60000,
                           &ignored)) {
    Print("end timeout");
    return 1;
  }
  Print("end " + std::to_string(GetTickCount() - start));
  return 0;
}

int SysCommand(const std::string& id) {
  HWND main = MainWindowOrComplain();
  if (main == nullptr) return 1;
  return PostMessageA(main, WM_SYSCOMMAND, strtoul(id.c_str(), nullptr, 0), 0) ? 0 : 1;
}

// A list view's texts live in its process: each query needs an LVCOLUMNA or LVITEMA there, with
// room for the text after it.
class RemoteList {
 public:
  explicit RemoteList(HWND list) : list_(list), remote_(list, kBlock + kTextSize + 1) {}
  bool Ok() const { return remote_.Ok(); }

  int Columns() const {
    HWND header = reinterpret_cast<HWND>(Send(LVM_GETHEADER, 0, 0));
    DWORD_PTR count = 0;
    if (header != nullptr) {
      SendMessageTimeoutA(header, HDM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &count);
    }
    return static_cast<int>(count);
  }
  int Rows() const { return static_cast<int>(Send(LVM_GETITEMCOUNT, 0, 0)); }

  std::string Column(int index) {
    LVCOLUMNA query{};
    query.mask = LVCF_TEXT;
    query.pszText = TextAddress();
    query.cchTextMax = kTextSize;
    return Query(&query, sizeof query, LVM_GETCOLUMNA, index);
  }
  std::string Cell(int row, int column) {
    LVITEMA query{};
    query.iSubItem = column;
    query.pszText = TextAddress();
    query.cchTextMax = kTextSize;
    return Query(&query, sizeof query, LVM_GETITEMTEXTA, row);
  }

 private:
  static const SIZE_T kBlock = 256;  // room for either structure
  static const int kTextSize = 4096;

  char* TextAddress() const { return reinterpret_cast<char*>(remote_.Address() + kBlock); }
  DWORD_PTR Send(UINT message, WPARAM wParam, LPARAM lParam) const {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(list_, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result);
    return result;
  }
  std::string Query(const void* query, SIZE_T size, UINT message, int index) {
    std::string text;
    if (!remote_.Write(std::string(static_cast<const char*>(query), size)) ||
        !SendMessageTimeoutA(list_, message, static_cast<WPARAM>(index), remote_.Address(),
                             SMTO_ABORTIFHUNG, kSendTimeoutMs, nullptr) ||
        !remote_.Read(&text, kBlock)) {
      return std::string();
    }
    return text;
  }

  HWND list_;
  RemoteBuffer remote_;
};

// The list view of the window the commands drive (a report window), or nullptr after saying why.
HWND ListViewOrComplain() {
  HWND main = MainWindowOrComplain();
  if (main == nullptr) return nullptr;
  HWND listView = FirstOfClass(main, WC_LISTVIEWA);
  if (listView == nullptr) fprintf(stderr, "kdrive: no list view\n");
  return listView;
}

int Rows() {
  HWND listView = ListViewOrComplain();
  if (listView == nullptr) return 1;
  RemoteList list(listView);
  if (!list.Ok()) return 1;
  const int columns = list.Columns();
  std::string line;
  for (int c = 0; c < columns; ++c) line += (c > 0 ? "\t" : "") + list.Column(c);
  Print(line);
  const int rows = list.Rows();
  for (int r = 0; r < rows; ++r) {
    line.clear();
    for (int c = 0; c < columns; ++c) line += (c > 0 ? "\t" : "") + list.Cell(r, c);
    Print(line);
  }
  return 0;
}

int Columns() {
  HWND listView = ListViewOrComplain();
  if (listView == nullptr) return 1;
  RemoteList list(listView);
  if (!list.Ok()) return 1;
  RECT client{};
  GetClientRect(listView, &client);
  Print("client " + std::to_string(client.right - client.left));
  int left = 0;
  for (int c = 0; c < list.Columns(); ++c) {
    DWORD_PTR width = 0;
    SendMessageTimeoutA(listView, LVM_GETCOLUMNWIDTH, c, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                        &width);
    Print(list.Column(c) + "\t" + std::to_string(left) + "\t" + std::to_string(width));
    left += static_cast<int>(width);
  }
  return 0;
}

int Clipboard() {
  if (!OpenClipboard(nullptr)) {
    fprintf(stderr, "kdrive: cannot open the clipboard (error %lu)\n", GetLastError());
    return 1;
  }
  int result = 1;
  HANDLE data = GetClipboardData(CF_TEXT);
  const char* text = data != nullptr ? static_cast<const char*>(GlobalLock(data)) : nullptr;
  if (text != nullptr) {
    fwrite(text, 1, strlen(text), stdout);
    fflush(stdout);
    GlobalUnlock(data);
    result = 0;
  } else {
    fprintf(stderr, "kdrive: no text on the clipboard\n");
  }
  CloseClipboard();
  return result;
}

int Usage() {
  fprintf(stderr, "usage: kdrive [-w TITLE] COMMAND [ARGS]   (see the comment in kdrive.cpp)\n");
  return 2;
}

double SecondsArg(int argc, char** argv, int index, double fallback) {
  return index < argc ? atof(argv[index]) : fallback;
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  int first = 1;
  if (first + 1 < argc && std::string(argv[first]) == "-w") {
    g_title = argv[first + 1];
    first += 2;
  }
  if (first >= argc) return Usage();
  const std::string command = argv[first];
  const int args = argc - first - 1;
  char** arg = argv + first + 1;

  if (command == "wait") return Wait(SecondsArg(args, arg, 0, 10));
  if (command == "wait-gone") return WaitGone(SecondsArg(args, arg, 0, 10));
  if (command == "count") {
    Print(std::to_string(TopLevelWindows().size()));
    return 0;
  }
  if (command == "visible") {
    bool visible = false;
    for (HWND hwnd : TopLevelWindows()) visible = visible || IsWindowVisible(hwnd);
    Print(visible ? "1" : "0");
    return 0;
  }
  if (command == "controls") return Controls();
  if (command == "buttons") return Buttons();
  if (command == "gettext" && args == 1) return GetText(arg[0]);
  if (command == "settext" && args == 2) return SetText(arg[0], arg[1]);
  if (command == "panels") return Panels();
  if (command == "click" && args == 1) return Click(arg[0]);
  if (command == "click-watch" && args >= 1) return ClickWatch(arg[0], SecondsArg(args, arg, 1, 30));
  if (command == "settext-wide" && args == 2) return SetTextWide(arg[0], arg[1]);
  if (command == "close") return Close();
  if (command == "ping") return Ping(SecondsArg(args, arg, 0, 5));
  if (command == "rects") return Rects();
  if (command == "resize" && args == 2) return Resize(atoi(arg[0]), atoi(arg[1]));
  if (command == "dialog") return Dialog(SecondsArg(args, arg, 0, 10));
  if (command == "dialog-cancel") return DialogCancel();
  if (command == "browse-choose" && args == 1) return BrowseChoose(arg[0]);
  if (command == "listen") return Listen(SecondsArg(args, arg, 0, 30));
  if (command == "log-off") return LogOff();
  if (command == "hold-mutex" && args >= 1) return HoldMutex(arg[0], SecondsArg(args, arg, 1, 30));
  if (command == "release" && args == 1) return Release(arg[0]);
  if (command == "syscommand" && args == 1) return SysCommand(arg[0]);
  if (command == "rows") return Rows();
  if (command == "columns") return Columns();
  if (command == "clipboard") return Clipboard();
  return Usage();
}
