// Rebuilding the setup program from a patch. When the payload carries a patch instead of a setup
// program, the setup program already installed for the application (found through the updater's
// "UninstallString") builds the new one from it; the installer then installs with that.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/bounded_string.h"
#include "base/exit_result.h"
#include "files/extracted_files.h"

// Reads "UninstallString" of the client-state key of app_id (HKEY_LOCAL_MACHINE when
// system_level) into installed_path, and drops a pair of enclosing double quotes. When
// previous_version is present and not empty, the value must contain it (ASCII letters in any case),
// so that a patch is only ever applied to the version it was made from. What is left must be a
// full local path: a drive letter, a colon and a backslash.
//   {0, 0}                                    installed_path filled
//   {EXIT_SETUP_KEY_UNREADABLE, error}        key or value missing, not REG_SZ, too long, ...
//   {EXIT_SETUP_VERSION_MISMATCH, 0}          the value does not name previous_version
//   {EXIT_SETUP_KEY_UNREADABLE, ERROR_BAD_PATHNAME}   a relative, UNC or device path, or empty
ExitResult FindInstalledSetup(bool system_level, const wchar_t* app_id,
                              const wchar_t* previous_version, PathBuffer& installed_path);

// The extra of EXIT_SETUP_KEY_UNREADABLE when "UninstallString" leads to the running installer's
// own file, which would start itself again and again.
inline constexpr uint32_t kErrorSetupIsTheInstaller = ERROR_CIRCULAR_DEPENDENCY;

// Runs the installed setup program as
//   "INSTALLED" --update-setup-exe="PATCH" --new-setup-exe="NEW"TAIL
// where PATCH is the patch's path, NEW the rebuilt entry's path (the work directory followed by
// "setup.exe") and TAIL the installer's own arguments (AppendInvocationTail). Before anything is
// started, the installed program must be another file than installer_path, the running
// installer's own (file_identity.h): {EXIT_SETUP_KEY_UNREADABLE, kErrorSetupIsTheInstaller} when
// it is the same file by any path, {EXIT_SETUP_KEY_UNREADABLE, error} when the installer's own
// file cannot be told. Returns {0, 0} when the program exited with 0 and its new setup program
// could be held at once (held_file.h); the rebuilt entry then stays. Otherwise FindInstalledSetup's
// failures, EXIT_COMMAND_LINE_TOO_LONG, the launch's (EXIT_PATCH_SETUP_NOT_FOUND,
// EXIT_PATCH_SETUP_PATH_NOT_FOUND, EXIT_PATCH_SETUP_LAUNCH_FAILED, EXIT_WAIT_FAILED), the
// program's own nonzero exit code with extra 0, or, for a new setup program that cannot be held,
// what starting it would give (EXIT_SETUP_NOT_FOUND with its attributes when the program wrote
// none, EXIT_SETUP_PATH_NOT_FOUND, EXIT_SETUP_LAUNCH_FAILED with the error). Once the launch was
// tried, whatever its outcome, the patch is removed (RemoveEarly, its attempts folded into
// max_attempts); before that, it stays listed for the run's clean-up, and so does whatever the
// program wrote.
ExitResult PatchSetup(bool system_level, const wchar_t* app_id, const wchar_t* previous_version,
                      const wchar_t* command_line, const wchar_t* installer_path,
                      ExtractedFile& patch, ExtractedFile& rebuilt, int32_t& max_attempts);
