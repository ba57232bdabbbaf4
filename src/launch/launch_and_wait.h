// Running one program hidden and waiting for it: the installer's only way of starting the setup
// program. Each caller names its own codes for a program that cannot be started, so that the
// installer's exit code tells which program failed to start and why.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/bounded_string.h"
#include "base/exit_result.h"

// Starts program (a full path; no search) with command as its whole command line, without a
// window, without inherited handles, in the installer's environment and current directory, and
// waits without a time limit. command must be writable: CreateProcessW may change it.
//
//   child ran to its end                 {its exit code, 0}
//   creation failed, ERROR_FILE_NOT_FOUND {code_file_not_found, attributes of program}
//   creation failed, ERROR_PATH_NOT_FOUND {code_path_not_found, attributes of program}
//   creation failed otherwise            {code_other, the error}
//   the wait or the exit code failed     {EXIT_WAIT_FAILED, the error}
//
// The attributes are INVALID_FILE_ATTRIBUTES for a missing program file, and the real attribute
// bits when the file exists but something it needs is missing.
ExitResult LaunchAndWait(const PathBuffer& program, CommandBuffer& command,
                         uint32_t code_file_not_found, uint32_t code_path_not_found,
                         uint32_t code_other);

// What LaunchAndWait returns when program could not be started with error: the first two codes,
// with the program file's attributes, for ERROR_FILE_NOT_FOUND and ERROR_PATH_NOT_FOUND; the
// third with the error for any other. Also for a program that could not be held before its start.
ExitResult StartFailure(const PathBuffer& program, uint32_t error, uint32_t code_file_not_found,
                        uint32_t code_path_not_found, uint32_t code_other);
