// The one table of the installer's own exit codes. The updater, the packer's verdict, the
// launcher that reports a run and the tests all read these numbers from here.
#pragma once

#include <stdint.h>

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

// The name of one of the codes above, for reports that people read; null for any other value
// (which is a setup program's own code).
constexpr const char* ExitCodeName(uint32_t code) {
  switch (code) {
    case EXIT_OK: return "EXIT_OK";
    case EXIT_SETTINGS_FAILED: return "EXIT_SETTINGS_FAILED";
    case EXIT_COMMAND_LINE_TOO_LONG: return "EXIT_COMMAND_LINE_TOO_LONG";
    case EXIT_WAIT_FAILED: return "EXIT_WAIT_FAILED";
    case EXIT_PATH_TOO_LONG: return "EXIT_PATH_TOO_LONG";
    case EXIT_WORK_DIR_FAILED: return "EXIT_WORK_DIR_FAILED";
    case EXIT_SETUP_KEY_UNREADABLE: return "EXIT_SETUP_KEY_UNREADABLE";
    case EXIT_SETUP_VERSION_MISMATCH: return "EXIT_SETUP_VERSION_MISMATCH";
    case EXIT_ARCHIVE_UNPACK_FAILED: return "EXIT_ARCHIVE_UNPACK_FAILED";
    case EXIT_SETUP_UNPACK_FAILED: return "EXIT_SETUP_UNPACK_FAILED";
    case EXIT_SETUP_WRITE_FAILED: return "EXIT_SETUP_WRITE_FAILED";
    case EXIT_WORK_DIR_SECURITY_FAILED: return "EXIT_WORK_DIR_SECURITY_FAILED";
    case EXIT_UNSUPPORTED_SWITCH: return "EXIT_UNSUPPORTED_SWITCH";
    case EXIT_PATCH_SETUP_NOT_FOUND: return "EXIT_PATCH_SETUP_NOT_FOUND";
    case EXIT_PATCH_SETUP_PATH_NOT_FOUND: return "EXIT_PATCH_SETUP_PATH_NOT_FOUND";
    case EXIT_PATCH_SETUP_LAUNCH_FAILED: return "EXIT_PATCH_SETUP_LAUNCH_FAILED";
    case EXIT_SETUP_NOT_FOUND: return "EXIT_SETUP_NOT_FOUND";
    case EXIT_SETUP_PATH_NOT_FOUND: return "EXIT_SETUP_PATH_NOT_FOUND";
    case EXIT_SETUP_LAUNCH_FAILED: return "EXIT_SETUP_LAUNCH_FAILED";
    case EXIT_OWN_DIRECTORY_UNKNOWN: return "EXIT_OWN_DIRECTORY_UNKNOWN";
    default: return nullptr;
  }
}
