#include "files/held_directory.h"

#include "files/held_path.h"

namespace {

// Others may read and write inside, as the setup program does, but nobody may rename or delete
// the directory while it is held. Not inheritable (no security attributes): the setup program is
// started without inherited handles anyway.
constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
// The system applies a handle's share mode to later opens only when the handle itself was opened
// for data access (reading, writing, executing or deletion); a handle for attributes alone would
// refuse nobody. Listing is a directory's data access; the attributes say what was opened.
constexpr DWORD kAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;

}  // namespace

uint32_t HeldDirectory::Hold(const wchar_t* path) {
  // Backup semantics open a directory.
  return HoldPath(handle_, path, kAccess, kShare, FILE_FLAG_BACKUP_SEMANTICS, true);
}
