// The platform call of the cabinet library's load that tests replace: the load itself, to make it
// fail while the system's cabinet.dll is there, and to see the path and flags it is asked for
// before it succeeds. A null member means the real function.
#pragma once

#include <windows.h>

struct CabinetLibraryCalls {
  HMODULE(WINAPI* load_library)(LPCWSTR, HANDLE, DWORD);
};

// Constant-initialised to all null: the stub has no static constructors.
extern CabinetLibraryCalls g_cabinet_library_calls;
