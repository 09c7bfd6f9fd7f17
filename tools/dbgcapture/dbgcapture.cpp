// dbgcapture: runs a program as its debugger and writes every string it hands to OutputDebugString,
// one per line, in the order the debug events arrive (that is, from every thread, in order).
//
//   dbgcapture [-o FILE] [-t SECONDS] PROGRAM [ARGS...]
//
// The captured lines go to FILE (default: stdout); the program inherits our standard handles, so
// its own output stays apart when -o is given. Exits with the program's exit code; 124 when the
// program was ended after -t SECONDS, 125 on a usage error, 126 when it could not be started.
//
// A debugger sees everything the program raises: the loader's initial breakpoint and later
// breakpoints are continued, every other exception is passed back unhandled so the program's own
// handlers (and its crash behaviour) stay as without us. The file handles that the create-process
// and load-DLL events hand over belong to us and are closed at once.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Quotes one argument so that the C runtime's parser of the child gives it back unchanged.
std::string QuoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      out.append(backslashes * 2 + 1, '\\');
    } else {
      out.append(backslashes, '\\');
    }
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  out += '"';
  return out;
}

// Reads the debug string of one event from the debuggee's memory.
std::string ReadDebugString(HANDLE process, const OUTPUT_DEBUG_STRING_INFO& info) {
  std::string text;
  if (info.nDebugStringLength == 0 || info.lpDebugStringData == nullptr) return text;
  SIZE_T got = 0;
  if (info.fUnicode) {
    std::vector<wchar_t> wide(info.nDebugStringLength);
    if (!ReadProcessMemory(process, info.lpDebugStringData, wide.data(),
                           wide.size() * sizeof(wchar_t), &got)) {
      return text;
    }
    size_t chars = got / sizeof(wchar_t);
    while (chars > 0 && wide[chars - 1] == L'\0') --chars;
    int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(chars), nullptr, 0,
                                    nullptr, nullptr);
    text.resize(bytes);
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(chars), &text[0], bytes, nullptr,
                        nullptr);
  } else {
    text.resize(info.nDebugStringLength);
    if (!ReadProcessMemory(process, info.lpDebugStringData, &text[0], text.size(), &got)) {
      return std::string();
    }
    text.resize(got);
    // The length counts the terminating zero; stop at the first zero in any case.
    size_t zero = text.find('\0');
    if (zero != std::string::npos) text.resize(zero);
  }
  return text;
}

void WriteLine(FILE* out, const std::string& text) {
  fwrite(text.data(), 1, text.size(), out);
  if (text.empty() || text.back() != '\n') fputc('\n', out);
  // Whoever reads the file while the program runs sees each line as soon as it was written.
  fflush(out);
}

int Usage() {
  fprintf(stderr, "usage: dbgcapture [-o FILE] [-t SECONDS] PROGRAM [ARGS...]\n");
  return 125;
}

}  // namespace

int main(int argc, char** argv) {
  const char* outPath = nullptr;
  DWORD timeoutMs = INFINITE;
  int first = 1;
  while (first < argc && argv[first][0] == '-') {
    std::string opt = argv[first];
    if (opt == "-o" && first + 1 < argc) {
      outPath = argv[first + 1];
      first += 2;
    } else if (opt == "-t" && first + 1 < argc) {
      timeoutMs = static_cast<DWORD>(atof(argv[first + 1]) * 1000.0);
      first += 2;
    } else if (opt == "--") {
      ++first;
      break;
    } else {
      return Usage();
    }
  }
  if (first >= argc) return Usage();

  FILE* out = stdout;
  if (outPath != nullptr) {
    out = fopen(outPath, "wb");
    if (out == nullptr) {
      fprintf(stderr, "dbgcapture: cannot write %s\n", outPath);
      return 125;
    }
  } else {
    _setmode(_fileno(stdout), _O_BINARY);
  }

  std::string commandLine;
  for (int i = first; i < argc; ++i) {
    if (!commandLine.empty()) commandLine += ' ';
    commandLine += QuoteArgument(argv[i]);
  }

  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  ZeroMemory(&process, sizeof process);
  std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
  mutableLine.push_back('\0');
  if (!CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, DEBUG_ONLY_THIS_PROCESS,
                      nullptr, nullptr, &startup, &process)) {
    fprintf(stderr, "dbgcapture: cannot start %s (error %lu)\n", argv[first], GetLastError());
    return 126;
  }

  const DWORD started = GetTickCount();
  bool timedOut = false;
  DWORD exitCode = 0;
  for (;;) {
    DEBUG_EVENT event;
    DWORD wait = INFINITE;
    if (timeoutMs != INFINITE) {
      DWORD elapsed = GetTickCount() - started;
      wait = elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
    }
    if (!WaitForDebugEvent(&event, wait)) {
      if (timedOut) {
        fprintf(stderr, "dbgcapture: WaitForDebugEvent failed (error %lu)\n", GetLastError());
        return 126;
      }
      // Too slow (or no more events to wait for): end it, then serve events until its exit.
      timedOut = true;
      timeoutMs = INFINITE;
      fprintf(stderr, "dbgcapture: %s still running after the time limit, ended\n", argv[first]);
      TerminateProcess(process.hProcess, 124);
      continue;
    }
    DWORD continueStatus = DBG_CONTINUE;
    bool done = false;
    switch (event.dwDebugEventCode) {
      case CREATE_PROCESS_DEBUG_EVENT:
        if (event.u.CreateProcessInfo.hFile != nullptr) CloseHandle(event.u.CreateProcessInfo.hFile);
        break;
      case LOAD_DLL_DEBUG_EVENT:
        if (event.u.LoadDll.hFile != nullptr) CloseHandle(event.u.LoadDll.hFile);
        break;
      case OUTPUT_DEBUG_STRING_EVENT:
        WriteLine(out, ReadDebugString(process.hProcess, event.u.DebugString));
        break;
      case EXCEPTION_DEBUG_EVENT: {
        DWORD code = event.u.Exception.ExceptionRecord.ExceptionCode;
        if (code != EXCEPTION_BREAKPOINT && code != 0x4000001F /* STATUS_WX86_BREAKPOINT */) {
          continueStatus = DBG_EXCEPTION_NOT_HANDLED;
        }
        break;
      }
      case EXIT_PROCESS_DEBUG_EVENT:
        exitCode = event.u.ExitProcess.dwExitCode;
        done = true;
        break;
      default:
        break;
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continueStatus);
    if (done) break;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (out != stdout) fclose(out);
  return timedOut ? 124 : static_cast<int>(exitCode);
}
