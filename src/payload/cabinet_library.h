// The system cabinet library, loaded by full path on first use and kept until the process ends.
// The stub imports only from kernel32, advapi32 and shell32; cabinet.dll is reached only through
// LoadLibraryExW and GetProcAddress, from the directory that GetSystemDirectoryW names. Neither a
// copy planted beside the installer (in a downloads folder, say) nor one in a folder that the
// environment names is ever loaded in its place: a less privileged user controls the
// environment of the processes it starts, elevated ones included, so %WINDIR% and %SYSTEMROOT%
// prove nothing about where the system is.
#pragma once

#include <windows.h>

#include <fdi.h>

using FdiCreateFunction = decltype(&FDICreate);
using FdiCopyFunction = decltype(&FDICopy);
using FdiDestroyFunction = decltype(&FDIDestroy);

struct CabinetLibrary {
  FdiCreateFunction fdi_create;
  FdiCopyFunction fdi_copy;
  FdiDestroyFunction fdi_destroy;
  // Set by the first successful load and never unloaded.
  HMODULE module;
};

// Process-wide, constant-initialised (empty) so that the stub needs no static constructor.
extern CabinetLibrary cabinet_library;

// Loads GetSystemDirectoryW's directory + "\cabinet.dll" if the library is not loaded yet, then
// looks up the three entry points again. False when it does not load (a later call tries again)
// or an entry point is missing.
bool LoadCabinetLibrary();
