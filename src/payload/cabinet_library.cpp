#include "payload/cabinet_library.h"

#include "base/bounded_string.h"

CabinetLibrary cabinet_library = {nullptr, nullptr, nullptr, nullptr};
LoadLibraryFunction cabinet_load_library = nullptr;

namespace {

constexpr const wchar_t* kCandidates[] = {
    L"%WINDIR%\\system32\\cabinet.dll",
    L"%SYSTEMROOT%\\system32\\cabinet.dll",
    L"C:\\Windows\\system32\\cabinet.dll",
};

HMODULE LoadCandidate(const wchar_t* path) {
  // LOAD_WITH_ALTERED_SEARCH_PATH: cabinet.dll's own dependencies are looked up beside it, not
  // beside the installer.
  if (cabinet_load_library != nullptr) {
    return cabinet_load_library(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
  return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// GetProcAddress returns a generic function pointer; the detour through void* says that the
// conversion to the entry point's real type is intended.
template <typename Function>
Function EntryPoint(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(cabinet_library.module, name)));
}

}  // namespace

bool LoadCabinetLibrary() {
  for (const wchar_t* candidate : kCandidates) {
    if (cabinet_library.module != nullptr) break;
    PathBuffer expanded;
    const DWORD units = ExpandEnvironmentStringsW(candidate, expanded.text, expanded.capacity);
    // 0 is a failure; more than the capacity (the count includes the terminator) did not fit.
    if (units == 0 || units > expanded.capacity) continue;
    cabinet_library.module = LoadCandidate(expanded.text);
  }
  if (cabinet_library.module == nullptr) return false;
  cabinet_library.fdi_create = EntryPoint<FdiCreateFunction>("FDICreate");
  cabinet_library.fdi_destroy = EntryPoint<FdiDestroyFunction>("FDIDestroy");
  cabinet_library.fdi_copy = EntryPoint<FdiCopyFunction>("FDICopy");
  return cabinet_library.fdi_create != nullptr && cabinet_library.fdi_destroy != nullptr &&
         cabinet_library.fdi_copy != nullptr;
}
