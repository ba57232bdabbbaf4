// The stub's process entry. There is no C runtime start-up: the image's entry point is this
// function, which runs the installation once and ends the process with its exit code.
#include <windows.h>

#include "installer/installer_main.h"

// The linker's symbol for the base of this image: the module handle that resource and
// module-file-name queries take.
extern "C" IMAGE_DOS_HEADER __ImageBase;

extern "C" [[noreturn]] void StubEntry() {
  const ExitResult result = InstallerMain(reinterpret_cast<HMODULE>(&__ImageBase));
  ExitProcess(result.code);
}
