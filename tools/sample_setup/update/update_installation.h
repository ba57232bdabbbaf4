// An update: the install invocation with a patch archive (first bytes "LUMPATCH",
// docs/patch-archive.md) instead of a 7z archive, and --previous-version=V.
//
//   1. The previous version's folder is ROOT\V (ROOT as the full installation finds it). No V, no
//      such folder, or a V that is no plain version: the update does not fit (26).
//   2. The archive's header and directory are read, and every file it relies on is checked in
//      that folder (size and SHA-256) before anything is written: one missing or different, 26.
//   3. The new version is built in the staging folder ROOT\.setup-<process id>.tmp, each file
//      checked against its SHA-256 as it is made. Damaged data, or a name Windows would take
//      for a device or alter ("NUL.txt", "a."): 21; a file that cannot be written: 23.
//   4. As the full installation: the version from the new tree's "VERSION", this program copied
//      in as setup.exe, the folder moved into place as ROOT\<version>, "UninstallString" written.
//
// On any failure the staging folder goes, and with it everything of the new version; the
// previous version's folder is only ever read.
#pragma once

#include "install/installation.h"

// Returns 0 or one of the setup program's exit codes (lumora/setup_exit_codes.h).
int InstallFromPatchArchive(const InstallRequest& request);
