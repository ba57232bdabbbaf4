// The directory a run extracts into: beside the installer's own executable, under a name no other
// run is using, and on volumes that keep access lists readable and writable only by the
// administrators, the system account and the account that owns what this process creates.
#pragma once

#include <windows.h>

#include "base/bounded_string.h"
#include "base/exit_result.h"

// Creates base + "LM_" + five random upper-case hexadecimal digits + ".tmp", trying up to ten
// names, and leaves that path with a final backslash in path. base ends with a backslash.
// EXIT_PATH_TOO_LONG before anything touches the disk, EXIT_WORK_DIR_SECURITY_FAILED with the
// last error when the access list cannot be built, EXIT_WORK_DIR_FAILED when no name could be
// created.
ExitResult MakeWorkDirectory(const wchar_t* base, PathBuffer& path);

// The descriptor for a new work directory on the volume of path, owned by the caller (LocalFree).
// True with null when the volume keeps no access lists or cannot be queried; false, with the last
// error set, when the descriptor cannot be built.
bool BuildDirectorySecurity(const wchar_t* path, PSECURITY_DESCRIPTOR& descriptor);

// The process token's default owner as a string SID ("S-1-..."), owned by the caller
// (LocalFree). False with the last error of the failing call.
bool GetOwnerSidString(wchar_t*& sid);
