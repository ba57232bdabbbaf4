// Opening a path the run holds (its work directory, a file that another program wrote there) as
// what it is meant to be. A link put at the path must be seen, not followed: the run would
// otherwise hold, run or delete the link's target.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/owner.h"

// Opens path itself (never what a link there points to) with access and share into handle, and
// keeps it only when it is a directory (directory true) or a plain file (false), and no reparse
// point. Returns 0, the error of the open, or ERROR_CANT_RESOLVE_FILENAME for anything else at
// the path; then nothing is held.
uint32_t HoldPath(FileHandle& handle, const wchar_t* path, DWORD access, DWORD share, DWORD flags,
                  bool directory);
