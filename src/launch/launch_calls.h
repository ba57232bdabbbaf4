// The platform calls of a launch that tests replace: the creation, to fail it with the errors
// Windows gives for a program that is there but cannot start (Wine gives others), and to see the
// arguments of the creation that the child cannot report (handle inheritance, the startup record);
// the wait and the exit code, whose failures cannot be provoked. A null member means the real
// function.
#pragma once

#include <windows.h>

struct LaunchCalls {
  BOOL(WINAPI* create_process)(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                               BOOL, DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW,
                               LPPROCESS_INFORMATION);
  DWORD(WINAPI* wait_for_single_object)(HANDLE, DWORD);
  BOOL(WINAPI* get_exit_code_process)(HANDLE, LPDWORD);
};

// Constant-initialised to all null: the stub has no static constructors.
extern LaunchCalls g_launch_calls;
