// The installation: what the setup program does on the install invocation.
//
//   1. Read the archive as 7z (seven_zip/archive.h) and refuse, before writing anything, one
//      whose methods it cannot decode (25) or that is not 7z or damaged in its header (20, 21).
//   2. Decode every file into a staging folder ROOT\.setup-<process id>.tmp, each written as it
//      is decoded and checked against its CRC (install/staging.h).
//   3. Take the version from the staged top-level file "VERSION", copy this program into the
//      staging folder as "setup.exe", and move the staging folder into place as ROOT\<version>
//      (a rename; a version already installed is replaced file by file).
//   4. Write "UninstallString" = the quoted path of that setup.exe into the updater's key.
//
// Any failure removes the staging folder, and after step 3 the version folder when this
// installation made it: nothing half-written stays behind.
#pragma once

#include <string>

struct InstallRequest {
  const wchar_t* archive = nullptr;
  bool system_level = false;        // HKEY_LOCAL_MACHINE instead of HKEY_CURRENT_USER
  const wchar_t* app_id = nullptr;  // the channel's application id, last part of the key path
  std::wstring root;                // the directory that receives <version>\; empty: the default
};

// Returns 0 or one of the setup program's exit codes (lumora/setup_exit_codes.h).
int InstallFromArchive(const InstallRequest& request);
