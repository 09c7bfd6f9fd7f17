#include "app/startup_win.h"

#include <commctrl.h>
#include <objbase.h>

#include <exception>
#include <memory>

#include "app/application_win.h"
#include "app/form_win.h"
#include "boost/thread_boost.h"
#include "common/scope_guard.h"
#include "common/texts.h"
#include "defrag/fast_defrag_engine.h"
#include "win32/dynamic_calls_win.h"

namespace kestrava {
namespace {

// A new engine for every boost, on the real volumes.
std::unique_ptr<DefragEngine> PlatformDefragEngine() {
  DefragPorts ports;
  ports.volume = &PlatformVolumeDevice();
  return std::make_unique<TFastDefragEngine>(ports);
}

// One worker per press, on the real system.
bool StartBoostWorker(BoostWindowPort& window, bool boost, ReceiptSlot& receipts) {
  try {
    auto worker =
        std::make_unique<TThreadBoost>(window, boost, PlatformBoostPorts(), &PlatformDefragEngine);
    worker->KeepReceiptIn(receipts);
    TThreadBoost::Resume(std::move(worker));
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

void RestrictDllSearch() {
  // Where the system has it, only the system folder is searched (and a DLL's own folder when it is
  // loaded by full path). Elsewhere the current folder at least is taken out of the order; the
  // program's folder stays in it there, which is why the exe imports only KnownDLLs and loads
  // the other DLLs it needs by full path (win32/dynamic_calls_win.cpp).
  const SetDefaultDllDirectoriesFn setDefault = SystemCalls().setDefaultDllDirectories;
  if (setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  SetDllDirectoryW(L"");
}

StartupPort::Window StartupWin::FindRunningInstance() {
  // The running instance's only top-level window is its main window, so the search finds it
  // whether it is shown or hidden by the autorun switch.
  return reinterpret_cast<Window>(FindWindowA(nullptr, SAppTitle));
}

void StartupWin::PostWakeUp(Window window) {
  HWND running = reinterpret_cast<HWND>(window);
  // The starting program is the one the user just launched, so it may let the running instance
  // come to the front; without this Windows would only flash its taskbar button.
  DWORD processId = 0;
  if (GetWindowThreadProcessId(running, &processId)) AllowSetForegroundWindow(processId);
  PostMessageA(running, kWakeUpMessage, 0, 0);
}

MutexResult StartupWin::CreateInstanceMutex() {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, kInstanceMutexName);
  if (mutex == nullptr) return MutexResult::Failed;
  // Deliberately never closed: holding the handle for the life of the process is what keeps a
  // later start out, and the system releases it when the process ends.
  return GetLastError() == ERROR_ALREADY_EXISTS ? MutexResult::AlreadyExists : MutexResult::Created;
}

void StartupWin::RunApplication(bool showMainWindow) {
  // COM for the user-interface thread, single-threaded apartment: the folder browser needs it.
  const bool comInitialised = SUCCEEDED(CoInitialize(nullptr));
  const auto uninitialiseCom = MakeScopeExit([comInitialised] {
    if (comInitialised) CoUninitialize();
  });
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  Application application;
  TfrmKestrava form(application, &StartBoostWorker, &PlatformDefragEngine);
  if (!form.Create(instance_)) return;
  application.SetMainWindow(form.Handle());
  if (showMainWindow) form.Show(showCommand_);
  application.Run();
  form.WaitForWorkerBeforeExit();
}

}  // namespace kestrava
