// The platform calls behind the work directory that tests replace: the random source (to choose
// the names, so that every one of them can be taken), the creation (to put something else at the
// new path before it is held, a race no test can win on demand, and to see the descriptor it is
// handed, which Wine does not keep on the directory), the volume queries (volumes without access
// lists, queries that fail) and the token and descriptor calls (tokens that cannot be read, an
// owner other than the user, a descriptor text refused). A null member means the real function.
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
