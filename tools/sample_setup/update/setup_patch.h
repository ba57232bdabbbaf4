// The patch run: the installed setup program (the previous release's) rebuilds the new release's
// from "SETUP.PATCH", a patch archive (docs/patch-archive.md) with exactly one entry, "setup.exe":
// patched against "setup.exe" (this program's own file), unchanged, or added whole.
//
//   1. The patch's header and directory are read: not one of ours, or not that single entry, 3.
//   2. This program's own file is checked against the entry's base (size and SHA-256): another
//      program than the one the patch was made from, 26.
//   3. The new program is written to a temporary file beside new_setup and checked against its
//      SHA-256 (damaged, 3), then renamed into place (cannot be written, 4).
//
// On failure nothing is left at new_setup, nor the temporary file.
#pragma once

// Returns 0 or one of the setup program's exit codes (lumora/setup_exit_codes.h).
int PatchSetupProgram(const wchar_t* patch, const wchar_t* new_setup);
