// The outcome of every fallible step of a run, and the one table of the installer's exit codes.
// The process exit code is `code`; `extra` carries the detail the updater reads back from the
// client state (a Windows error, a file-attribute word, or 0).
#pragma once

#include <stdint.h>

struct [[nodiscard]] ExitResult {
  uint32_t code = 0;
  uint32_t extra = 0;
};
static_assert(sizeof(ExitResult) == 8, "two unsigned 32-bit values");

// Codes the installer ends with on its own. Any other value is a setup program's exit code passed
// on unchanged, so a setup program that exits with one of these numbers is indistinguishable from
// the installer's own failure: the updater relies on exactly these numbers.
constexpr uint32_t EXIT_OK = 0;
constexpr uint32_t EXIT_SETTINGS_FAILED = 101;
constexpr uint32_t EXIT_COMMAND_LINE_TOO_LONG = 105;
constexpr uint32_t EXIT_WAIT_FAILED = 107;
constexpr uint32_t EXIT_PATH_TOO_LONG = 108;
constexpr uint32_t EXIT_WORK_DIR_FAILED = 109;
constexpr uint32_t EXIT_SETUP_KEY_UNREADABLE = 110;
constexpr uint32_t EXIT_SETUP_VERSION_MISMATCH = 111;
constexpr uint32_t EXIT_ARCHIVE_UNPACK_FAILED = 112;
constexpr uint32_t EXIT_SETUP_UNPACK_FAILED = 115;
constexpr uint32_t EXIT_SETUP_WRITE_FAILED = 116;
constexpr uint32_t EXIT_WORK_DIR_SECURITY_FAILED = 117;
constexpr uint32_t EXIT_UNSUPPORTED_SWITCH = 118;
constexpr uint32_t EXIT_PATCH_SETUP_NOT_FOUND = 119;
constexpr uint32_t EXIT_PATCH_SETUP_PATH_NOT_FOUND = 120;
constexpr uint32_t EXIT_PATCH_SETUP_LAUNCH_FAILED = 121;
constexpr uint32_t EXIT_SETUP_NOT_FOUND = 122;
constexpr uint32_t EXIT_SETUP_PATH_NOT_FOUND = 123;
constexpr uint32_t EXIT_SETUP_LAUNCH_FAILED = 124;
// The installer could not tell its own directory from its module file name, so it could not place
// the work directory. Reporting success there would hide that nothing was installed; 125 follows
// the table and is no other failure's number.
constexpr uint32_t EXIT_OWN_DIRECTORY_UNKNOWN = 125;
