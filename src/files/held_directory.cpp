#include "files/held_directory.h"

namespace {

// Others may read and write inside, as the setup program does, but nobody may rename or delete
// the directory while it is held. Not inheritable (no security attributes): the setup program is
// started without inherited handles anyway.
constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
// The system applies a handle's share mode to later opens only when the handle itself was opened
// for data access (reading, writing, executing or deletion); a handle for attributes alone would
// refuse nobody. Listing is a directory's data access; the attributes say what was opened.
constexpr DWORD kAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;
// Backup semantics open a directory; the reparse-point flag opens a link itself, so that a link
// put in the directory's place is seen, not followed.
constexpr DWORD kFlags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

}  // namespace

bool HeldDirectory::Hold(const wchar_t* path) {
  Release();
  handle_.Reset(CreateFileW(path, kAccess, kShare, nullptr, OPEN_EXISTING, kFlags, nullptr));
  if (!handle_.IsValid()) return false;
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(handle_.Get(), &information)) {
    Release();
    return false;
  }
  const DWORD attributes = information.dwFileAttributes;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    SetLastError(ERROR_DIRECTORY);
    Release();
    return false;
  }
  return true;
}
