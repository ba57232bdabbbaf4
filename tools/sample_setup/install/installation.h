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
  const wchar_t* previous_version = nullptr;  // --previous-version: the version an update replaces
  bool system_level = false;        // HKEY_LOCAL_MACHINE instead of HKEY_CURRENT_USER
  const wchar_t* app_id = nullptr;  // the channel's application id, last part of the key path
  std::wstring root;                // the directory that receives <version>\; empty: the default
};

// Returns 0 or one of the setup program's exit codes (lumora/setup_exit_codes.h).
int InstallFromArchive(const InstallRequest& request);

// The steps an update (update/update_installation.h) shares with the installation above.

// The directory that receives <version>\ (the request's, else the default), without a trailing
// backslash; empty when there is none.
std::wstring InstallRoot(const InstallRequest& request);

// ROOT\.setup-<process id>.tmp: where a version is built before it is moved into place.
std::wstring StagingFolderIn(const std::wstring& root);

// A version short and plain enough to be a directory name that "UninstallString" can be searched
// for: at most 32 letters, digits, '.', '-' and '_', not only dots.
bool IsPlainVersion(const std::wstring& version);

// The text of the staged top-level "VERSION" file, surrounding blanks and line ends removed; 0 or
// SETUP_EXIT_NO_VERSION.
int ReadStagedVersion(const std::wstring& staging, std::wstring& version);

// Steps 3 and 4 once staging holds every file of version: this program copied in as setup.exe,
// the folder moved into place as ROOT\<version> (written over file by file when that version is
// installed already), "UninstallString" written. A version folder this call made is removed again
// when the key cannot be written; staging is the caller's to remove.
int PlaceAndRegister(const InstallRequest& request, const std::wstring& root,
                     const std::wstring& staging, const std::wstring& version);
