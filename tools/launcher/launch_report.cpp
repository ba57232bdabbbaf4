// Runs a Windows program and reports its full 32-bit exit code. Wine hands only the low eight bits
// of an exit code to Linux, so scripts and tests start programs through this launcher instead.
//
//   lumora-launch.exe PROGRAM [ARGUMENTS...]
//
// Everything after the launcher's own name is the child's command line, passed on verbatim.
// Prints "exit-code: DECIMAL 0xHEX" and exits with the child's code; a failed start prints
// "launch-failed: ERROR" and exits with 255.
#include <windows.h>

#include <cstdio>

namespace {

const wchar_t* SkipProgramName(const wchar_t* p) {
  if (*p == L'"') {
    ++p;
    while (*p != 0 && *p != L'"') ++p;
    if (*p == L'"') ++p;
  } else {
    while (*p != 0 && *p != L' ' && *p != L'\t') ++p;
  }
  while (*p == L' ' || *p == L'\t') ++p;
  return p;
}

}  // namespace

int wmain() {
  const wchar_t* tail = SkipProgramName(GetCommandLineW());
  if (*tail == 0) {
    std::fprintf(stderr, "usage: lumora-launch PROGRAM [ARGUMENTS...]\n");
    return 2;
  }
  // CreateProcessW may write into the command line, so it gets a copy.
  const size_t length = wcslen(tail);
  wchar_t* command = new wchar_t[length + 1];
  wcscpy(command, tail);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    std::printf("launch-failed: %lu\n", GetLastError());
    delete[] command;
    return 255;
  }
  delete[] command;
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  std::printf("exit-code: %lu 0x%08lX\n", code, code);
  std::fflush(stdout);
  return static_cast<int>(code);
}
