// The baseline of the planted-DLL tests: a program with the installer's own imports (kernel32,
// advapi32, shell32) that exits at once. Whatever it loads from its own folder is loaded by the
// system's start-up before any code of the program runs; under Wine that includes DLLs that
// shell32 and advapi32 depend on, which no program can prevent there.
#include <windows.h>

#include <shellapi.h>

extern "C" [[noreturn]] void BaselineEntry() {
  // Never true; the calls keep the imports in the image without running anything of theirs.
  if (GetCommandLineW() == nullptr) {
    int count = 0;
    LocalFree(CommandLineToArgvW(L"", &count));
    RegCloseKey(HKEY_CURRENT_USER);
  }
  ExitProcess(0);
}
