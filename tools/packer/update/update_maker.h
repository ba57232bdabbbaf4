// Making an update installer's two members from the previous installer and the new release: the
// setup program's patch, "SETUP.PATCH" (a patch archive of one file, "setup.exe"), and the data's
// patch archive between the two releases' archive trees.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "delta/archive/patch_archive_writer.h"
#include "update/release_tree.h"

// The name of the one file of the setup program's patch: the installed setup program's own.
constexpr char kSetupPatchEntry[] = "setup.exe";

// What an update is made from: the previous installer's setup program (as installed) and the
// files of its archive, and the version that installed them.
struct PreviousRelease {
  std::vector<uint8_t> setup_program;
  ReleaseTree tree;
  std::string version;  // the archive's "VERSION", as the setup program reads it
};

// Reads the previous installer: refuses one that is itself an update (a "B7" setup program or a
// patch archive), since an update must be made against a full release.
bool ReadPreviousRelease(const std::string& path, PreviousRelease& previous, std::string& error);

// The setup program's patch: "patched" against the previous setup program, or "added" (the new
// program whole) when the delta is no smaller.
bool MakeSetupPatch(const std::vector<uint8_t>& previous_setup,
                    const std::vector<uint8_t>& new_setup, std::vector<uint8_t>& patch,
                    bool& patched, std::string& error);
