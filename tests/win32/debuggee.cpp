// A program for the tests of dbgcapture: debug lines from two threads, its own exception handler,
// a chosen exit code.
//
//   debuggee lines    "main start", "thread 0" .. "thread 999" from a second thread, "main end",
//                     one line on stdout; exit code 42. Raises an exception of its own first and
//                     exits with 3 if its handler did not see it (a debugger swallowed it).
//   debuggee crash    writes through a null pointer
//   debuggee sleep    sleeps for a minute
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const DWORD kOwnException = 0xE0424242;
volatile LONG g_ownExceptionSeen = 0;

LONG CALLBACK OwnHandler(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode != kOwnException) return EXCEPTION_CONTINUE_SEARCH;
  InterlockedExchange(&g_ownExceptionSeen, 1);
  return EXCEPTION_CONTINUE_EXECUTION;
}

DWORD WINAPI Writer(void*) {
  for (int i = 0; i < 1000; ++i) OutputDebugStringA(("thread " + std::to_string(i)).c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "lines") {
    AddVectoredExceptionHandler(1, OwnHandler);
    RaiseException(kOwnException, 0, 0, nullptr);
    if (!g_ownExceptionSeen) return 3;
    OutputDebugStringA("main start");
    HANDLE thread = CreateThread(nullptr, 0, Writer, nullptr, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    OutputDebugStringA("main end");
    std::puts("stdout line");
    std::fflush(stdout);
    return 42;
  }
  if (mode == "crash") {
    volatile int* nowhere = nullptr;
    *nowhere = 1;
    return 0;
  }
  if (mode == "sleep") {
    Sleep(60000);
    return 0;
  }
  return 2;
}
