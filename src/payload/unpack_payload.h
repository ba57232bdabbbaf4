// Turning the payload resources of the installer's image into files in the work directory: the
// archive, and the setup program (expanded into "setup.exe" when it is stored as a cabinet).
#pragma once

#include <windows.h>

#include <stdint.h>

#include "base/bounded_string.h"
#include "base/exit_result.h"
#include "files/extracted_files.h"
#include "lumora/payload_resources.h"

// work_dir ends with a backslash. Each file is listed in files before it is created: the archive,
// then the setup resource (written as "setup.exe" when it is stored uncompressed, "BN"), and
// for a cabinet ("BL") the "setup.exe" expanded from it, which then becomes setup_file. The
// cabinet itself is removed right after its expansion, successful or not, and leaves the list
// (RemoveEarly), its attempts folded into max_attempts. The archive and the setup program that
// runs stay when removal is switched off; a patch ("B7") does not. A member name that would not
// name a plain file of its own in the work directory (anything but ASCII letters, digits, ".", "_"
// and "-"; "..", or a final dot; a patch named "setup.exe") ends with kPayloadErrorNotAFileName
// before anything is written: EXIT_ARCHIVE_UNPACK_FAILED for the archive,
// EXIT_SETUP_UNPACK_FAILED for the setup program. A write fails with the error of its failing call
// (EXIT_ARCHIVE_UNPACK_FAILED, EXIT_SETUP_WRITE_FAILED), an expansion with
// {EXIT_SETUP_UNPACK_FAILED, 0}. On every failure what was created is still listed, for the run's
// clean-up. setup_type and archive_type receive the type each member was found under, once its
// type's walk ended cleanly; a member not found leaves its type as it was.
ExitResult UnpackPayload(HMODULE module, const wchar_t* work_dir, ExtractedFiles& files,
                         ExtractedFile*& setup_file, PayloadType& setup_type,
                         ExtractedFile*& archive_file, PayloadType& archive_type,
                         int32_t& max_attempts);
