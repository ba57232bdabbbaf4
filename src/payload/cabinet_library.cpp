#include "payload/cabinet_library.h"

#include "base/bounded_string.h"
#include "base/platform_call.h"
#include "payload/cabinet_library_calls.h"

CabinetLibrary cabinet_library = {nullptr, nullptr, nullptr, nullptr};
CabinetLibraryCalls g_cabinet_library_calls = {};

namespace {

constexpr const wchar_t* kLibraryName = L"\\cabinet.dll";

// The full path names the file; the flag decides where the library's own dependencies come
// from. LOAD_LIBRARY_SEARCH_SYSTEM32 keeps them in System32. LOAD_WITH_ALTERED_SEARCH_PATH would
// look beside cabinet.dll first, also System32, but then fall back to the standard search order,
// current directory and PATH included, overriding what the entry set with
// SetDefaultDllDirectories (and it may not be combined with the LOAD_LIBRARY_SEARCH_ flags).
constexpr DWORD kLoadFlags = LOAD_LIBRARY_SEARCH_SYSTEM32;


// GetProcAddress returns a generic function pointer; the detour through void* says that the
// conversion to the entry point's real type is intended.
template <typename Function>
Function EntryPoint(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(cabinet_library.module, name)));
}

}  // namespace

bool LoadCabinetLibrary() {
  if (cabinet_library.module == nullptr) {
    PathBuffer path;
    const UINT units = GetSystemDirectoryW(path.text, path.capacity);
    // 0 is a failure; a count not below the capacity is the size that would have been needed.
    if (units == 0 || units >= path.capacity) return false;
    if (!AppendBounded(path.text, path.capacity, kLibraryName)) return false;
    cabinet_library.module =
        PlatformCall(g_cabinet_library_calls.load_library, &LoadLibraryExW)(path.text, nullptr,
                                                                            kLoadFlags);
    if (cabinet_library.module == nullptr) return false;
  }
  cabinet_library.fdi_create = EntryPoint<FdiCreateFunction>("FDICreate");
  cabinet_library.fdi_destroy = EntryPoint<FdiDestroyFunction>("FDIDestroy");
  cabinet_library.fdi_copy = EntryPoint<FdiCopyFunction>("FDICopy");
  return cabinet_library.fdi_create != nullptr && cabinet_library.fdi_destroy != nullptr &&
         cabinet_library.fdi_copy != nullptr;
}
