#include "files/remove_with_retry.h"

#include <windows.h>

#include "base/freestanding_runtime.h"
#include "base/owner.h"
#include "base/platform_call.h"
#include "files/removal_calls.h"

RemovalCalls g_removal_calls = {};

namespace {

// Shared with everyone, so the deletion handle can coexist with other processes' handles that
// allow deletion; backup semantics open a directory with the same call, and the reparse-point flag
// makes a link itself the object deleted, never its target.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kOpenFlags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

HANDLE OpenForRemoval(const wchar_t* path, DWORD access) {
  return PlatformCall(g_removal_calls.create_file, &CreateFileW)(
      path, access, kShareAll, nullptr, OPEN_EXISTING, kOpenFlags, nullptr);
}

BOOL SetInformation(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS kind, void* data, DWORD size) {
  return PlatformCall(g_removal_calls.set_information, &SetFileInformationByHandle)(
      handle, kind, data, size);
}

BOOL GetInformation(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS kind, void* data, DWORD size) {
  return PlatformCall(g_removal_calls.get_information, &GetFileInformationByHandleEx)(
      handle, kind, data, size);
}

void Wait() { PlatformCall(g_removal_calls.sleep, &Sleep)(kRemovalRetryDelayMs); }

// A failure without a reason must not read as an accepted mark.
DWORD FailureError() {
  DWORD error = GetLastError();
  return error != 0 ? error : ERROR_GEN_FAILURE;
}

// Sets delete-on-close through a handle that asks for nothing but deletion. Returns 0 when the
// mark was accepted, otherwise the error of the failing open or mark.
DWORD RequestDeletion(const wchar_t* path) {
  FileHandle handle(OpenForRemoval(path, DELETE));
  if (!handle.IsValid()) return FailureError();
  FILE_DISPOSITION_INFO disposition;
  disposition.DeleteFile = TRUE;
  // One byte: the structure's only member is a BOOLEAN.
  if (SetInformation(handle.Get(), FileDispositionInfo, &disposition, 1)) return 0;
  return FailureError();
}

// A read-only file refuses the deletion mark with an access denial. True when the bit was set and
// has been cleared, so that the mark is worth repeating at once.
bool ClearReadOnly(const wchar_t* path) {
  FileHandle handle(OpenForRemoval(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES));
  if (!handle.IsValid()) return false;
  FILE_BASIC_INFO basic;
  FillBytes(&basic, 0, sizeof(basic));
  if (!GetInformation(handle.Get(), FileBasicInfo, &basic, sizeof(basic))) return false;
  if ((basic.FileAttributes & FILE_ATTRIBUTE_READONLY) == 0) return false;
  basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  // The platform reads 0 as "leave the attributes as they are", which would keep the bit and
  // send the loop straight back to a mark that fails again; NORMAL is the explicit "none".
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  // The times stay as read: non-zero values write back what is already there.
  return SetInformation(handle.Get(), FileBasicInfo, &basic, sizeof(basic)) != FALSE;
}

}  // namespace

bool RemoveWithRetry(const wchar_t* path, int32_t& attempts) {
  attempts = 1;
  // Each attempt may repeat its work at most once after an accepted mark and once after a cleared
  // read-only bit; beyond that only a counted attempt and a wait continue the loop, so it ends
  // after at most kMaxRemovalAttempts attempts whatever the platform answers.
  bool mark_accepted = false;
  bool read_only_cleared = false;
  for (;;) {
    DWORD error = RequestDeletion(path);
    if (error == 0) {
      // The object normally vanishes as the deletion handle closes, and the next open says so.
      // A path that stays openable after an accepted mark is treated as still held.
      if (!mark_accepted) {
        mark_accepted = true;
        continue;
      }
      error = ERROR_SHARING_VIOLATION;
    }
    switch (error) {
      case ERROR_FILE_NOT_FOUND:
      case ERROR_PATH_NOT_FOUND:
        return true;
      case ERROR_SHARING_VIOLATION:
      case ERROR_DIR_NOT_EMPTY:
        break;
      case ERROR_ACCESS_DENIED:
        // A denial that a cleared read-only bit does not explain (a deletion still pending
        // behind another handle, for one) is waited out like a sharing violation.
        if (!read_only_cleared && ClearReadOnly(path)) {
          read_only_cleared = true;
          continue;
        }
        break;
      default:
        return false;
    }
    if (attempts >= kMaxRemovalAttempts) return false;
    ++attempts;
    mark_accepted = false;
    read_only_cleared = false;
    Wait();
  }
}
