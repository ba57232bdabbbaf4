// The install invocation of the setup program. The installer's own arguments reach it through
// AppendInvocationTail (invocation_tail.h).
#pragma once

#include <stdint.h>

#include "base/bounded_string.h"
#include "base/exit_result.h"
#include "launch/invocation_tail.h"

// {EXIT_COMMAND_LINE_TOO_LONG, 0} when the setup command line cannot carry previous_version
// intact (a double quote, a final backslash or a control character in it: the shared rule of
// lumora/payload_rules.h), else {EXIT_OK, 0}; null means no previous version. The run checks this
// before it starts any program, the installed one that applies a patch included.
ExitResult CheckPreviousVersion(const wchar_t* previous_version);

// Runs setup_path as
//   "SETUP" --install-archive="ARCHIVE"[ --previous-version="VERSION"]TAIL
// ("uncompressed-archive" instead when compressed_archive is false, that is for "BL" and "BN"
// archives), where TAIL is the installer's own arguments as AppendInvocationTail passes them on.
// previous_version is the version an update replaces, or null; a present but empty version still
// gives the switch. command_line is the installer's whole command line as GetCommandLineW gave it.
// Nothing is escaped: paths and version go in as they are (the run has refused a version that
// CheckPreviousVersion refuses before it gets here). A fixed part that does not fit a
// CommandBuffer gives {EXIT_COMMAND_LINE_TOO_LONG, 0} and starts nothing; otherwise the result of
// LaunchAndWait with the codes EXIT_SETUP_NOT_FOUND, EXIT_SETUP_PATH_NOT_FOUND and
// EXIT_SETUP_LAUNCH_FAILED.
ExitResult InstallWithSetup(const wchar_t* previous_version, const wchar_t* command_line,
                            const PathBuffer& archive_path, const PathBuffer& setup_path,
                            bool compressed_archive);
