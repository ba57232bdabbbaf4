// The sample setup program's real installation: what it does on the install invocation when it is
// asked to install (see sample_setup.cpp), as an application's setup program would.
//
//   1. Read the archive it was given as 7z (the stored subset of seven_zip_reader.h) and take the
//      application's version from the archive's top-level file "VERSION".
//   2. Extract the archive into ROOT\<version>\ and copy itself there as "setup.exe".
//   3. Write "UninstallString" = the quoted path of that setup.exe into the updater's
//      client-state key of the application, so that a later installer that carries a patch finds
//      the installed setup program there and recognises its version in the path.
//
// A failure after the version directory was made removes it again, unless it was there before
// (a reinstallation, which is written over).
//
// The setup program owns the registration of its application, so it creates the client-state key
// when the updater has not (RegCreateKeyExW); the installer, unlike it, never creates that key.
#pragma once

#include <string>

// Exit codes of the installation, beside the sample's other codes (3 and 4 for the patch run).
constexpr int kInstallArchiveRefused = 20;   // not a 7z archive, or 7z beyond the stored subset
constexpr int kInstallArchiveDamaged = 21;   // unreadable, CRC mismatch, malformed, unsafe name
constexpr int kInstallNoVersion = 22;        // no usable top-level "VERSION" file
constexpr int kInstallWriteFailed = 23;      // the install directory or a file could not be written
constexpr int kInstallRegisterFailed = 24;   // the client-state key could not be written

struct InstallRequest {
  const wchar_t* archive = nullptr;
  bool system_level = false;    // HKEY_LOCAL_MACHINE instead of HKEY_CURRENT_USER
  const wchar_t* app_id = nullptr;  // the channel's application id, last part of the key path
  std::wstring root;            // the directory that receives <version>\; empty: the default
};

// Returns 0 or one of the codes above.
int InstallFromArchive(const InstallRequest& request);

// The default root, empty when the variable is missing: for the user
// %LOCALAPPDATA%\Lumora\Application, for the machine %ProgramFiles%\Lumora\Application.
std::wstring DefaultInstallRoot(bool system_level);
