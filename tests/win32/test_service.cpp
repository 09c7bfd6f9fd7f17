// A Windows service of our own for the Wine tests, installed under a catalogue name, that behaves
// as its command line says:
//   slow-stop        stop: STOP_PENDING with rising check points for 3 s, then stopped
//   pending-zero     stop: STOP_PENDING with a wait hint of 0 for 5 s, then stopped
//   stop-after MS    stop: STOP_PENDING (wait hint 500, rising check points) until MS
//                    milliseconds after the stop control, then stopped
//   refuse-stop      accepts no stop control (ControlService fails with 1052)
//   shutdown-only    accepts the shutdown control and no other, so not the stop
//   checkpoint-back  stop: STOP_PENDING whose check point goes back, then stopped
//   slow-start       start: START_PENDING with rising check points for 3 s
//   plain            starts and stops at once
// (test_service.exe MODE [MS])
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

const char* g_mode = "plain";
DWORD g_stopAfter = 0;  // stop-after: milliseconds from the stop control to the stopped state
SERVICE_STATUS_HANDLE g_status = nullptr;
HANDLE g_stopped = nullptr;
SERVICE_STATUS g_state{};

void Report(DWORD state, DWORD checkPoint, DWORD waitHint) {
  g_state.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  g_state.dwCurrentState = state;
  g_state.dwControlsAccepted = 0;
  if (state == SERVICE_RUNNING) {
    if (std::strcmp(g_mode, "shutdown-only") == 0) {
      g_state.dwControlsAccepted = SERVICE_ACCEPT_SHUTDOWN;
    } else if (std::strcmp(g_mode, "refuse-stop") != 0) {
      g_state.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    }
  }
  g_state.dwWin32ExitCode = NO_ERROR;
  g_state.dwCheckPoint = checkPoint;
  g_state.dwWaitHint = waitHint;
  SetServiceStatus(g_status, &g_state);
}

bool Is(const char* mode) { return std::strcmp(g_mode, mode) == 0; }

DWORD WINAPI SlowStop(void*) {
  if (Is("checkpoint-back")) {
    Report(SERVICE_STOP_PENDING, 5, 500);
    Sleep(200);
    Report(SERVICE_STOP_PENDING, 2, 500);
    Sleep(1500);
    SetEvent(g_stopped);
    return 0;
  }
  if (Is("stop-after")) {
    // Counted from the control: the handler reported STOP_PENDING just before starting this.
    const DWORD start = GetTickCount();
    for (DWORD step = 1;; ++step) {
      const DWORD passed = GetTickCount() - start;
      if (passed >= g_stopAfter) break;
      Sleep(g_stopAfter - passed < 100 ? g_stopAfter - passed : 100);
      Report(SERVICE_STOP_PENDING, step, 500);
    }
    SetEvent(g_stopped);
    return 0;
  }
  const bool zero = Is("pending-zero");
  for (DWORD step = 1; step <= (zero ? 17u : 10u); ++step) {
    Report(SERVICE_STOP_PENDING, zero ? 0 : step, zero ? 0 : 500);
    Sleep(300);
  }
  SetEvent(g_stopped);
  return 0;
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*) {
  if (control == SERVICE_CONTROL_STOP) {
    if (Is("slow-stop") || Is("pending-zero") || Is("checkpoint-back") || Is("stop-after")) {
      Report(SERVICE_STOP_PENDING, 0, 500);
      CloseHandle(CreateThread(nullptr, 0, SlowStop, nullptr, 0, nullptr));
    } else {
      SetEvent(g_stopped);
    }
    return NO_ERROR;
  }
  if (control == SERVICE_CONTROL_INTERROGATE || control == SERVICE_CONTROL_SHUTDOWN) {
    return NO_ERROR;
  }
  return ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI ServiceMain(DWORD, char** arguments) {
  g_status = RegisterServiceCtrlHandlerExA(arguments[0], Handler, nullptr);
  if (g_status == nullptr) return;
  g_stopped = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (Is("slow-start")) {
    for (DWORD step = 1; step <= 10; ++step) {
      Report(SERVICE_START_PENDING, step, 500);
      Sleep(300);
    }
  }
  Report(SERVICE_RUNNING, 0, 0);
  WaitForSingleObject(g_stopped, INFINITE);
  Report(SERVICE_STOPPED, 0, 0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) g_mode = argv[1];
  if (argc > 2) g_stopAfter = static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10));
  char name[] = "";
  SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
