// Runs a Windows program and reports its full 32-bit exit code. Wine hands only the low eight bits
// of an exit code to Linux, so scripts and tests start programs through this launcher instead.
//
//   lumora-launch.exe [--measure] PROGRAM [ARGUMENTS...]
//
// Everything after the launcher's own name (and its switch) is the child's command line, passed on
// verbatim. Prints "exit-code: DECIMAL 0xHEX", followed by the installer's name for the code when
// it is one of the installer's own (" EXIT_SETUP_UNPACK_FAILED"), and exits with the child's code;
// a failed start prints "launch-failed: ERROR" and exits with 255.
//
// --measure (for bench/) also prints, after the exit code, the child's elapsed wall time from
// just before CreateProcess to the end of the wait, and its peak memory:
//   elapsed-ms: 1234.5
//   peak-working-set-kib: 5678
//   peak-pagefile-kib: 910
// The memory figures cover the child process alone, not processes it starts in turn.
#define PSAPI_VERSION 2  // GetProcessMemoryInfo from kernel32 (K32...), no psapi.dll import
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cwchar>

#include "lumora/exit_codes.h"

namespace {

const wchar_t* SkipSpaces(const wchar_t* p) {
  while (*p == L' ' || *p == L'\t') ++p;
  return p;
}

const wchar_t* SkipProgramName(const wchar_t* p) {
  if (*p == L'"') {
    ++p;
    while (*p != 0 && *p != L'"') ++p;
    if (*p == L'"') ++p;
  } else {
    while (*p != 0 && *p != L' ' && *p != L'\t') ++p;
  }
  return SkipSpaces(p);
}

// The switch only counts as a whole first word, so a child program named "--measure-x" still runs.
const wchar_t* SkipMeasureSwitch(const wchar_t* p, bool* measure) {
  static const wchar_t kSwitch[] = L"--measure";
  const size_t length = sizeof(kSwitch) / sizeof(kSwitch[0]) - 1;
  if (wcsncmp(p, kSwitch, length) == 0 &&
      (p[length] == 0 || p[length] == L' ' || p[length] == L'\t')) {
    *measure = true;
    return SkipSpaces(p + length);
  }
  return p;
}

struct PeakMemory {
  SIZE_T working_set = 0;
  SIZE_T pagefile = 0;
};

void SamplePeakMemory(HANDLE process, PeakMemory* peak) {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  if (!GetProcessMemoryInfo(process, &counters, sizeof(counters))) return;
  if (counters.PeakWorkingSetSize > peak->working_set) {
    peak->working_set = counters.PeakWorkingSetSize;
  }
  if (counters.PeakPagefileUsage > peak->pagefile) peak->pagefile = counters.PeakPagefileUsage;
}

}  // namespace

int wmain() {
  bool measure = false;
  const wchar_t* tail = SkipMeasureSwitch(SkipProgramName(GetCommandLineW()), &measure);
  if (*tail == 0) {
    std::fprintf(stderr, "usage: lumora-launch [--measure] PROGRAM [ARGUMENTS...]\n");
    return 2;
  }
  // CreateProcessW may write into the command line, so it gets a copy.
  const size_t length = wcslen(tail);
  wchar_t* command = new wchar_t[length + 1];
  wcscpy(command, tail);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  LARGE_INTEGER frequency = {}, start = {}, end = {};
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  if (!CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    std::printf("launch-failed: %lu\n", GetLastError());
    delete[] command;
    return 255;
  }
  delete[] command;
  CloseHandle(process.hThread);
  PeakMemory peak;
  if (measure) {
    // Windows keeps the peak counters of an exited process until its last handle closes, but Wine
    // reads them from the Linux process, which is gone once the wait returns. Sampling during the
    // wait keeps Wine's high-water mark; the last sample is at most one period before the exit.
    while (WaitForSingleObject(process.hProcess, 10) == WAIT_TIMEOUT) {
      SamplePeakMemory(process.hProcess, &peak);
    }
  } else {
    WaitForSingleObject(process.hProcess, INFINITE);
  }
  QueryPerformanceCounter(&end);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  if (measure) SamplePeakMemory(process.hProcess, &peak);
  CloseHandle(process.hProcess);
  // A setup program may end with the same number: the name says what the installer means by it.
  const char* name = ExitCodeName(code);
  std::printf("exit-code: %lu 0x%08lX%s%s\n", code, code, name != nullptr ? " " : "",
              name != nullptr ? name : "");
  if (measure) {
    const double ms = static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 /
                      static_cast<double>(frequency.QuadPart);
    std::printf("elapsed-ms: %.1f\n", ms);
    std::printf("peak-working-set-kib: %llu\n",
                static_cast<unsigned long long>(peak.working_set / 1024));
    std::printf("peak-pagefile-kib: %llu\n", static_cast<unsigned long long>(peak.pagefile / 1024));
  }
  std::fflush(stdout);
  return static_cast<int>(code);
}
