// The settings' split of the command line, replaced for one scope and put back however the test
// ends: the run's ends that only a failed or canned split provokes.
#pragma once

#include <windows.h>

#include "installer/settings_calls.h"

struct SplitSeam {
  explicit SplitSeam(LPWSTR*(WINAPI* split)(LPCWSTR, int*)) {
    g_settings_calls.split_command_line = split;
  }
  ~SplitSeam() { g_settings_calls.split_command_line = nullptr; }
  SplitSeam(const SplitSeam&) = delete;
  SplitSeam& operator=(const SplitSeam&) = delete;
};

// A split that fails as CommandLineToArgvW fails when memory runs out.
inline wchar_t** WINAPI FailingSplit(const wchar_t*, int* count) {
  *count = 0;
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return nullptr;
}
