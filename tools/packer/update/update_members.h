// pack --update-from: the members of an update installer, made from the previous installer and
// the new release (its archive and its setup program).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "delta/archive/patch_archive_writer.h"
#include "platform/byte_source.h"

struct UpdateMembers {
  std::vector<uint8_t> setup_patch;  // "SETUP.PATCH"
  bool setup_patched = false;        // a delta against the previous setup program, else added
  std::vector<uint8_t> data_patch;   // the archive member
  delta::PatchCounts counts;
  std::string previous_version;      // the previous archive's "VERSION" ("" when it has none)
};

// previous_path: the previous release's full installer. new_archive: the new release's 7z
// archive. new_setup: the new setup program, or a cabinet of it. False with the reason in error.
bool MakeUpdateMembers(const std::string& previous_path, const ByteSource& new_archive,
                       const ByteSource& new_setup, UpdateMembers& members, std::string& error);
