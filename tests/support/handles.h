// Whether a handle is still open in this process: how a test sees that code released what it was
// handed or what it opened.
#pragma once

#include <windows.h>

inline bool HandleIsOpen(HANDLE handle) {
  DWORD flags = 0;
  return GetHandleInformation(handle, &flags) != FALSE;
}
