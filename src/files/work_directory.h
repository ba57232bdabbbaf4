// The directory a run extracts into: beside the installer's own executable, under a name no other
// run is using, and on volumes that keep access lists readable and writable only by the
// administrators, the system account and the account that owns what this process creates.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/bounded_string.h"
#include "base/exit_result.h"
#include "base/owner.h"
#include "files/held_directory.h"

// Creates base + "LM_" + five random upper-case hexadecimal digits + ".tmp", trying up to ten
// names, leaves that path with a final backslash in path and the directory held open in held.
// base ends with a backslash. An attempt whose new directory cannot be held as a directory (it
// was replaced between creation and opening) fails like a refused creation, and what it created
// is taken back when it is still there. EXIT_PATH_TOO_LONG before anything touches the disk,
// EXIT_WORK_DIR_SECURITY_FAILED with the last error when the access list cannot be built,
// EXIT_WORK_DIR_FAILED when no name could be created and held.
ExitResult MakeWorkDirectory(const wchar_t* base, PathBuffer& path, HeldDirectory& held);

// The descriptor for a new work directory on the volume of path. 0 with none when the volume
// answers that it keeps no access lists; a volume that cannot be queried gets the descriptor.
// Otherwise the Windows error of the call that failed to build it.
uint32_t BuildDirectorySecurity(const wchar_t* path, LocalMemory<void>& descriptor);

// The process token's default owner as a string SID ("S-1-..."). 0, or the Windows error of the
// failing call.
uint32_t GetOwnerSidString(LocalMemory<wchar_t>& sid);
