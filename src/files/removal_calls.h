// The platform calls of the removal loop that tests replace. The loop decides only on the error
// each call leaves, and some sequences (a deletion the platform accepts while the path stays
// openable, a read-only bit that comes back) cannot be produced on demand, so tests replay them
// through the opens and the information calls; the waits between attempts would make every test
// of a held file take seconds, so tests count them instead. A null member means the real function.
#pragma once

#include <windows.h>

struct RemovalCalls {
  HANDLE(WINAPI* create_file)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
  BOOL(WINAPI* set_information)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
  BOOL(WINAPI* get_information)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
  void(WINAPI* sleep)(DWORD);
};

// Constant-initialised to all null: the stub has no static constructors.
extern RemovalCalls g_removal_calls;
