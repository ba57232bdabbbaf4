// The setup program of every contender and the unit of the limit: a Windows program that exits at
// once, so that what the setup program itself costs is the same small constant everywhere. Built
// without a C runtime and, by default, importing kernel32 alone. The same source, built with
// IMPORT_ADVAPI32 or IMPORT_SHELL32, gives programs that load one more of the installer's system
// libraries and still do nothing: the difference in their start-up is that library's cost. With
// IMPORT_SHCORE it takes CommandLineToArgvW from shcore, where shell32's export of it leads.
#include <windows.h>
#if defined(IMPORT_SHELL32) || defined(IMPORT_SHCORE)
#include <shellapi.h>
#endif

extern "C" [[noreturn]] void EmptyEntry() {
  // Never true: the calls are here only so that the loader maps their libraries.
  if (GetCommandLineW() == nullptr) {
#if defined(IMPORT_ADVAPI32)
    RegCloseKey(nullptr);
#endif
#if defined(IMPORT_SHELL32) || defined(IMPORT_SHCORE)
    int count = 0;
    CommandLineToArgvW(nullptr, &count);
#endif
  }
  ExitProcess(0);
}
