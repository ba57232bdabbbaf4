// Failing one platform call of a whole run, as SQLite's fault tests fail the Nth system call: every
// function that the stub's code imports and whose failure Windows documents is redirected in
// this test program's import table (import_redirect.h). While a FaultInjection is armed, each
// call to one of them is counted, and the Nth fails once, as the platform would fail it: with the
// documented failure value and last error, without doing what was asked. A release (a handle
// closed, memory freed) is done and then reported as failed, since a release that was not done
// would be a leak of the test's making; the stub ignores what a release returns.
//
// A module's own calls may be left out (ExcludeCallsFrom): the cabinet library's allocations,
// which it makes through the stub's memory callbacks, are the library's to handle, not the stub's.
//
// Calls that cannot fail are left alone: GetLastError, SetLastError, GetCurrentProcess,
// GetCommandLineW, GetProcessHeap (a field of the process's own block), lstrcmpiW, Sleep, and
// ExitProcess and SetDefaultDllDirectories, which only the process entry calls.
#pragma once

#include <windows.h>
#include <sddl.h>
#include <shellapi.h>

#include <stdint.h>

#include <string>
#include <type_traits>
#include <vector>

#include "support/import_redirect.h"

// The system's random source, which ntsecapi.h declares under its other name.
extern "C" BOOLEAN WINAPI SystemFunction036(PVOID, ULONG);

namespace fault_injection {

enum class Kind { kFails, kReleases };

// dll, function, the value it returns on failure, the last error it sets, kind.
#define LUMORA_SWEPT_CALLS(X)                                                                    \
  X("kernel32.dll", CloseHandle, FALSE, ERROR_INVALID_HANDLE, kReleases)                         \
  X("kernel32.dll", CreateDirectoryW, FALSE, ERROR_ACCESS_DENIED, kFails)                        \
  X("kernel32.dll", CreateFileW, INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED, kFails)              \
  X("kernel32.dll", CreateProcessW, FALSE, ERROR_NOT_ENOUGH_MEMORY, kFails)                      \
  X("kernel32.dll", DosDateTimeToFileTime, FALSE, ERROR_INVALID_PARAMETER, kFails)               \
  X("kernel32.dll", DuplicateHandle, FALSE, ERROR_NOT_ENOUGH_MEMORY, kFails)                     \
  X("kernel32.dll", EnumResourceNamesW, FALSE, ERROR_RESOURCE_TYPE_NOT_FOUND, kFails)            \
  X("kernel32.dll", FindResourceW, nullptr, ERROR_RESOURCE_NAME_NOT_FOUND, kFails)               \
  X("kernel32.dll", FlushFileBuffers, FALSE, ERROR_WRITE_FAULT, kFails)                          \
  X("kernel32.dll", GetEnvironmentVariableW, 0, ERROR_ENVVAR_NOT_FOUND, kFails)                  \
  X("kernel32.dll", GetExitCodeProcess, FALSE, ERROR_ACCESS_DENIED, kFails)                      \
  X("kernel32.dll", GetFileAttributesW, INVALID_FILE_ATTRIBUTES, ERROR_ACCESS_DENIED, kFails)    \
  X("kernel32.dll", GetFileInformationByHandle, FALSE, ERROR_ACCESS_DENIED, kFails)              \
  X("kernel32.dll", GetFileInformationByHandleEx, FALSE, ERROR_ACCESS_DENIED, kFails)            \
  X("kernel32.dll", GetFileSizeEx, FALSE, ERROR_ACCESS_DENIED, kFails)                           \
  X("kernel32.dll", GetModuleFileNameW, 0, ERROR_NOT_ENOUGH_MEMORY, kFails)                      \
  X("kernel32.dll", GetProcAddress, nullptr, ERROR_PROC_NOT_FOUND, kFails)                       \
  X("kernel32.dll", GetSystemDirectoryW, 0, ERROR_NOT_ENOUGH_MEMORY, kFails)                     \
  X("kernel32.dll", GetVolumeInformationW, FALSE, ERROR_NOT_READY, kFails)                       \
  X("kernel32.dll", GetVolumePathNameW, FALSE, ERROR_FILENAME_EXCED_RANGE, kFails)               \
  X("kernel32.dll", HeapAlloc, nullptr, ERROR_NOT_ENOUGH_MEMORY, kFails)                         \
  X("kernel32.dll", HeapFree, FALSE, ERROR_INVALID_PARAMETER, kReleases)                         \
  X("kernel32.dll", LoadLibraryExW, nullptr, ERROR_MOD_NOT_FOUND, kFails)                        \
  X("kernel32.dll", LoadResource, nullptr, ERROR_RESOURCE_DATA_NOT_FOUND, kFails)                \
  X("kernel32.dll", LocalAlloc, nullptr, ERROR_NOT_ENOUGH_MEMORY, kFails)                        \
  X("kernel32.dll", LocalFileTimeToFileTime, FALSE, ERROR_INVALID_PARAMETER, kFails)             \
  X("kernel32.dll", LocalFree, 1, ERROR_INVALID_HANDLE, kReleases)                               \
  X("kernel32.dll", LockResource, nullptr, ERROR_RESOURCE_DATA_NOT_FOUND, kFails)                \
  X("kernel32.dll", MultiByteToWideChar, 0, ERROR_NO_UNICODE_TRANSLATION, kFails)                \
  X("kernel32.dll", ReOpenFile, INVALID_HANDLE_VALUE, ERROR_SHARING_VIOLATION, kFails)           \
  X("kernel32.dll", ReadFile, FALSE, ERROR_READ_FAULT, kFails)                                   \
  X("kernel32.dll", RemoveDirectoryW, FALSE, ERROR_DIR_NOT_EMPTY, kFails)                        \
  X("kernel32.dll", SetFileInformationByHandle, FALSE, ERROR_ACCESS_DENIED, kFails)              \
  X("kernel32.dll", SetFilePointer, INVALID_SET_FILE_POINTER, ERROR_NEGATIVE_SEEK, kFails)       \
  X("kernel32.dll", SetProcessWorkingSetSize, FALSE, ERROR_ACCESS_DENIED, kFails)                \
  X("kernel32.dll", SizeofResource, 0, ERROR_RESOURCE_DATA_NOT_FOUND, kFails)                    \
  X("kernel32.dll", WaitForSingleObject, WAIT_FAILED, ERROR_INVALID_HANDLE, kFails)              \
  X("kernel32.dll", WideCharToMultiByte, 0, ERROR_NO_UNICODE_TRANSLATION, kFails)                \
  X("kernel32.dll", WriteFile, FALSE, ERROR_DISK_FULL, kFails)                                   \
  X("advapi32.dll", ConvertSidToStringSidW, FALSE, ERROR_NOT_ENOUGH_MEMORY, kFails)              \
  X("advapi32.dll", ConvertStringSecurityDescriptorToSecurityDescriptorW, FALSE,                 \
    ERROR_INVALID_PARAMETER, kFails)                                                             \
  X("advapi32.dll", GetTokenInformation, FALSE, ERROR_ACCESS_DENIED, kFails)                     \
  X("advapi32.dll", OpenProcessToken, FALSE, ERROR_ACCESS_DENIED, kFails)                        \
  X("advapi32.dll", RegCloseKey, ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE, kReleases)          \
  X("advapi32.dll", RegOpenKeyExW, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, kFails)             \
  X("advapi32.dll", RegQueryValueExW, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, kFails)          \
  X("advapi32.dll", RegSetValueExW, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, kFails)            \
  X("advapi32.dll", SystemFunction036, FALSE, ERROR_NOT_ENOUGH_MEMORY, kFails)                   \
  X("shell32.dll", CommandLineToArgvW, nullptr, ERROR_NOT_ENOUGH_MEMORY, kFails)

// What one armed stretch counted, and which call it failed.
struct Plan {
  bool armed = false;
  // Calls returning into [excluded_begin, excluded_end) are neither counted nor failed.
  uintptr_t excluded_begin = 0;
  uintptr_t excluded_end = 0;
  uint32_t calls = 0;
  uint32_t fail_at = 0;  // 1-based; 0 fails nothing
  std::string failed;    // the function of the failed call; empty when none failed
  DWORD failed_error = 0;  // the last error the failed call set
  std::vector<const char*> log;  // every counted call, in order
};
inline Plan g_plan;

// True when the call now made, which returns to caller, is the one to fail.
inline bool Due(const char* function, const void* caller) {
  if (!g_plan.armed) return false;
  const uintptr_t at = reinterpret_cast<uintptr_t>(caller);
  if (at >= g_plan.excluded_begin && at < g_plan.excluded_end) return false;
  ++g_plan.calls;
  g_plan.log.push_back(function);
  if (g_plan.calls != g_plan.fail_at) return false;
  g_plan.failed = function;
  return true;
}

template <typename Result>
Result FailureValue(uintptr_t value) {
  if constexpr (std::is_pointer_v<Result>) {
    return reinterpret_cast<Result>(value);
  } else {
    return static_cast<Result>(value);
  }
}

// One function's stand-in. Tag makes each function's statics its own, also where two functions
// share a type.
template <typename Tag, typename Function>
struct Hook;
template <typename Tag, typename Result, typename... Arguments>
struct Hook<Tag, Result (*)(Arguments...)> {
  static inline void* original = nullptr;
  static inline const char* name = nullptr;
  static inline uintptr_t failure = 0;
  static inline DWORD error = 0;
  static inline Kind kind = Kind::kFails;

  static Result WINAPI Call(Arguments... arguments) {
    using Real = Result(WINAPI*)(Arguments...);
    const Real real = reinterpret_cast<Real>(original);
    if (!Due(name, __builtin_return_address(0))) return real(arguments...);
    if (kind == Kind::kReleases) (void)real(arguments...);
    g_plan.failed_error = error;
    SetLastError(error);
    return FailureValue<Result>(failure);
  }
};

#define LUMORA_FAULT_TAG(dll, function, failure, error, kind) struct function##Tag {};
LUMORA_SWEPT_CALLS(LUMORA_FAULT_TAG)
#undef LUMORA_FAULT_TAG

// Installs a stand-in for every swept call, unarmed, and puts every original back when it goes
// out of scope, however the test ends; it disarms too, so that nothing the test does afterwards
// is counted or failed.
class FaultInjection {
 public:
  FaultInjection() {
#define LUMORA_FAULT_INSTALL(dll, function, failure, error, kind) \
  Install<function##Tag, decltype(&::function)>(dll, #function,   \
                                                (uintptr_t)(failure), error, Kind::kind);
    LUMORA_SWEPT_CALLS(LUMORA_FAULT_INSTALL)
#undef LUMORA_FAULT_INSTALL
  }
  ~FaultInjection() {
    g_plan = Plan();
    redirect_.RestoreAll();
  }
  FaultInjection(const FaultInjection&) = delete;
  FaultInjection& operator=(const FaultInjection&) = delete;

  // The swept functions this program does not import: none, or the sweep misses them.
  const std::vector<std::string>& NotImported() const { return not_imported_; }
  uint32_t Swept() const { return swept_; }

  // From now on, the calls that module's code makes itself are neither counted nor failed.
  void ExcludeCallsFrom(HMODULE module) {
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    excluded_begin_ = reinterpret_cast<uintptr_t>(base);
    excluded_end_ = excluded_begin_ + nt->OptionalHeader.SizeOfImage;
  }

  // Counts the calls that body makes and fails the fail_at-th (0: none). Returns the plan.
  template <typename Body>
  Plan Run(uint32_t fail_at, Body body) {
    g_plan = Plan();
    g_plan.excluded_begin = excluded_begin_;
    g_plan.excluded_end = excluded_end_;
    g_plan.fail_at = fail_at;
    g_plan.armed = true;
    body();
    g_plan.armed = false;
    Plan done = g_plan;
    g_plan = Plan();
    return done;
  }

 private:
  template <typename Tag, typename Function>
  void Install(const char* dll, const char* function, uintptr_t failure, DWORD error, Kind kind) {
    using Stand = Hook<Tag, Function>;
    Stand::name = function;
    Stand::failure = failure;
    Stand::error = error;
    Stand::kind = kind;
    Stand::original = redirect_.Redirect(dll, function, reinterpret_cast<void*>(&Stand::Call));
    if (Stand::original == nullptr) {
      not_imported_.push_back(function);
    } else {
      ++swept_;
    }
  }

  ImportRedirect redirect_;
  uintptr_t excluded_begin_ = 0;
  uintptr_t excluded_end_ = 0;
  std::vector<std::string> not_imported_;
  uint32_t swept_ = 0;
};

}  // namespace fault_injection
