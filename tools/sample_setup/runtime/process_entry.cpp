// The process entry of the setup program, in place of mingw's start-up code: the arguments as the
// C runtime splits them (msvcrt.dll's own __wgetmainargs, the splitter every program linked with
// msvcrt uses), then wmain, then the exit. What the start-up code did besides is not needed here:
// no static constructors (the rules in CMakeLists.txt keep them out, and the link would show a
// .ctors section), no thread-local storage, no floating-point set-up, no data imported from
// DLLs that would need run-time relocation (--disable-auto-import makes such an import fail the
// link), no stdio.
#include <windows.h>

#include "lumora/setup_exit_codes.h"

extern "C" {

// msvcrt.dll's export, as mingw's start-up code declares it.
struct SetupStartupInfo {
  int new_mode;
};
int __cdecl __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** environment, int expand_wildcards,
                           SetupStartupInfo* startup);

int wmain(int argc, wchar_t** argv);

// Named on the link line (-e SetupEntry).
[[noreturn]] void SetupEntry() {
  int argc = 0;
  wchar_t** argv = nullptr;
  wchar_t** environment = nullptr;
  SetupStartupInfo startup = {0};
  // Fails only when memory for the arguments cannot be had: the failed installation's code.
  if (__wgetmainargs(&argc, &argv, &environment, 0, &startup) < 0 || argv == nullptr) {
    ExitProcess(SETUP_EXIT_WRITE_FAILED);
  }
  ExitProcess(static_cast<UINT>(wmain(argc, argv)));
}

}  // extern "C"
