// The image's load configuration, carried for one field: DependentLoadFlags. Windows 10 1607 and
// later load the DLLs that the static imports (kernel32, advapi32, shell32) depend on with these
// flags, before any code of ours runs and so before the entry point can narrow the search itself.
// With LOAD_LIBRARY_SEARCH_SYSTEM32 none of them comes from the installer's own folder, where a
// planted shcore.dll or version.dll would otherwise be loaded and its DllMain run.
//
// The linker finds the record by its symbol name and points the image's load configuration
// directory at it, with the size that the record's first field gives. GNU ld 2.40 ignores the
// symbol and leaves the directory empty, which is why stub images are linked with lld
// (cmake/StubCode.cmake).
#include <windows.h>

#include <stddef.h>

// mingw-w64's header still calls DependentLoadFlags by its old name, Reserved1.
static_assert(offsetof(IMAGE_LOAD_CONFIG_DIRECTORY64, Reserved1) == 0x4E,
              "DependentLoadFlags lies at offset 0x4E of the 64-bit load configuration");

namespace {

// Everything else stays zero: no security cookie, no lock prefixes, no guard tables. The record
// ends after SEHandlerCount, as the 64-bit records of Visual C++ 2005 to 2013 did, which every
// Windows loader accepts; the field that matters lies well inside it.
constexpr IMAGE_LOAD_CONFIG_DIRECTORY64 LoadConfiguration() {
  IMAGE_LOAD_CONFIG_DIRECTORY64 record = {};
  record.Size = sizeof(record);
  record.Reserved1 = LOAD_LIBRARY_SEARCH_SYSTEM32;
  return record;
}

}  // namespace

extern "C" const IMAGE_LOAD_CONFIG_DIRECTORY64 _load_config_used = LoadConfiguration();
