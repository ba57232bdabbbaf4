// The stub's process entry. There is no C runtime start-up: the image's entry point is this
// function, which runs the installation once and ends the process with its exit code.
#include <windows.h>

#include "installer/installer_main.h"

// The linker's symbol for the base of this image: the module handle that resource and
// module-file-name queries take.
extern "C" IMAGE_DOS_HEADER __ImageBase;

extern "C" [[noreturn]] void StubEntry() {
  // An installer is run from a downloads folder, where anyone's files can land. From this call on,
  // a library loaded at run time (cabinet.dll, and whatever a system DLL loads on demand) and the
  // libraries it brings in are looked for in System32 only: never beside the installer, in the
  // current directory or along PATH. It comes first, before anything can load a library. Its only
  // failure is a flag the system does not know, and this one it knows; the static imports' own
  // dependencies were covered before this line, by the image's load configuration.
  (void)SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  const ExitResult result = InstallerMain(reinterpret_cast<HMODULE>(&__ImageBase));
  ExitProcess(result.code);
}
