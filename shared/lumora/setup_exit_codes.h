// The exit codes of the setup program we ship (lumora-setup.exe), beside the installer's own
// (exit_codes.h) and outside their range 100 to 127, so that the updater can tell them apart. The
// packer reads them to predict what the setup program will make of an archive.
#pragma once

#include <stdint.h>

constexpr uint32_t SETUP_EXIT_OK = 0;
constexpr uint32_t SETUP_EXIT_PATCH_UNREADABLE = 3;       // patch run: the patch file
constexpr uint32_t SETUP_EXIT_NEW_SETUP_UNWRITABLE = 4;   // patch run: --new-setup-exe
constexpr uint32_t SETUP_EXIT_ARCHIVE_REFUSED = 20;       // not a 7z archive, or a 7z feature
                                                          // beyond installing (anti-items,
                                                          // external data, an oversized header)
constexpr uint32_t SETUP_EXIT_ARCHIVE_DAMAGED = 21;       // a CRC, a malformed header or data, an
                                                          // unsafe name, an unreadable archive
constexpr uint32_t SETUP_EXIT_NO_VERSION = 22;            // no usable top-level "VERSION" file
constexpr uint32_t SETUP_EXIT_WRITE_FAILED = 23;          // the installation could not be written
constexpr uint32_t SETUP_EXIT_REGISTER_FAILED = 24;       // the updater's key could not be written
constexpr uint32_t SETUP_EXIT_METHOD_UNSUPPORTED = 25;    // a compression method or filter it does
                                                          // not decode (PPMd, BZip2, Deflate, AES
                                                          // encryption, ...), or a dictionary
                                                          // above 1.5 GiB
constexpr uint32_t SETUP_EXIT_UPDATE_MISMATCH = 26;       // the installed version does not match
                                                          // this update (no installation of the
                                                          // previous version, a file it relies on
                                                          // missing or different, a result that
                                                          // does not verify): run the full
                                                          // installer
