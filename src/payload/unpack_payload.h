// Turning the payload resources of the installer's image into files in the work directory: the
// archive, and the setup program (expanded into "setup.exe" when it is stored as a cabinet).
#pragma once

#include <windows.h>

#include <stdint.h>

#include "base/bounded_string.h"
#include "base/exit_result.h"

// work_dir ends with a backslash. The four output buffers come in empty. max_attempts is raised
// by the removal of the compressed setup file when the setup program is a cabinet ("BL").
// A member name that would not name a plain file of its own in the work directory (anything but
// ASCII letters, digits, ".", "_" and "-"; "..", or a final dot; a patch named "setup.exe") ends
// with kPayloadErrorNotAFileName before anything is written: EXIT_ARCHIVE_UNPACK_FAILED for the
// archive, EXIT_SETUP_UNPACK_FAILED for the setup program. On failure, a path already set names a
// file that was written and stays for the caller's clean-up; a file whose writing failed is gone.
ExitResult UnpackPayload(HMODULE module, const wchar_t* work_dir, PathBuffer& setup_path,
                         ResourceTypeBuffer& setup_type, PathBuffer& archive_path,
                         ResourceTypeBuffer& archive_type, int32_t& max_attempts);
