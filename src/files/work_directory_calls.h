// The platform calls behind the work directory that tests replace: the random source (to choose
// the names), the creation (to see the descriptor it is handed), the volume and token queries (to
// produce volumes without access lists and unreadable tokens). A null member means the real function.
#pragma once

#include <windows.h>

struct WorkDirectoryCalls {
  BOOLEAN(WINAPI* random)(PVOID, ULONG);
  BOOL(WINAPI* create_directory)(LPCWSTR, LPSECURITY_ATTRIBUTES);
  BOOL(WINAPI* get_volume_path_name)(LPCWSTR, LPWSTR, DWORD);
  BOOL(WINAPI* get_volume_information)(LPCWSTR, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD, LPWSTR,
                                       DWORD);
  BOOL(WINAPI* open_process_token)(HANDLE, DWORD, PHANDLE);
  BOOL(WINAPI* get_token_information)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
  BOOL(WINAPI* convert_descriptor)(LPCWSTR, DWORD, PSECURITY_DESCRIPTOR*, PULONG);
};

// Constant-initialised to all null: the stub has no static constructors.
extern WorkDirectoryCalls g_work_directory_calls;
