// Rebuilding the setup program from a patch. When the payload carries a patch instead of a setup
// program, the setup program already installed for the application (found through the updater's
// "UninstallString") builds the new one from it; the installer then installs with that.
#pragma once

#include <stdint.h>

#include "base/bounded_string.h"
#include "base/exit_result.h"

// Reads "UninstallString" of the client-state key of app_id (HKEY_LOCAL_MACHINE when
// system_level) into installed_path, and drops a pair of enclosing double quotes. When
// previous_version is present and not empty, the value must contain it (ASCII letters in any case),
// so that a patch is only ever applied to the version it was made from.
//   {0, 0}                                    installed_path filled
//   {EXIT_SETUP_KEY_UNREADABLE, error}        key or value missing, not REG_SZ, too long, ...
//   {EXIT_SETUP_VERSION_MISMATCH, 0}          the value does not name previous_version
ExitResult FindInstalledSetup(bool system_level, const wchar_t* app_id,
                              const wchar_t* previous_version, PathBuffer& installed_path);

// Runs the installed setup program as
//   "INSTALLED" --update-setup-exe="PATCH" --new-setup-exe="NEW"TAIL
// where PATCH is setup_path (the patch file), NEW is new_setup_path and TAIL the installer's own
// arguments (AppendInvocationTail). Once the program has been started, the patch file is deleted
// whatever happened, and the deletion's attempt count is folded into max_attempts.
// Returns {0, 0} with setup_path = new_setup_path when the program exited with 0. On every failure
// setup_path is left empty, so that the run's clean-up does not touch the patch file: it stays
// when the installed program was not found or not accepted (FindInstalledSetup's results) or the
// command line did not fit (EXIT_COMMAND_LINE_TOO_LONG); a failed launch gives
// EXIT_PATCH_SETUP_NOT_FOUND, EXIT_PATCH_SETUP_PATH_NOT_FOUND, EXIT_PATCH_SETUP_LAUNCH_FAILED or
// EXIT_WAIT_FAILED, and a nonzero exit code comes back as it is, with extra 0. Whether the new
// program was really written is not checked here: a missing one surfaces as EXIT_SETUP_NOT_FOUND
// when the install invocation starts it.
ExitResult PatchSetup(bool system_level, const wchar_t* app_id, const wchar_t* previous_version,
                      const wchar_t* command_line, PathBuffer& setup_path,
                      const PathBuffer& new_setup_path, int32_t& max_attempts);
