// The release engineer's gate before signing: an update applied on the host to the previous
// installer's content, as the setup program would apply it, the setup program's patch to the
// previous setup program and the data's patch archive to the previous archive's files. Every
// result is checked against the SHA-256 the update records, so that an update that applies gives
// exactly the new release it was made from.
#pragma once

#include <cstdint>
#include <string>

#include "delta/archive/patch_archive_writer.h"

struct UpdateTrial {
  bool gives_new_release = false;
  // When it does not: the code the setup program would exit with, as it maps the same faults
  // (SETUP_EXIT_UPDATE_MISMATCH for a previous release that is not the update's base, or a
  // version the update does not replace; SETUP_EXIT_ARCHIVE_DAMAGED for a damaged patch archive
  // or a result that does not verify; SETUP_EXIT_PATCH_UNREADABLE for a damaged setup patch),
  // and why.
  uint32_t setup_exit_code = 0;
  std::string reason;
  // What the update built: the files of the new release, its version.
  uint64_t files = 0;
  uint64_t bytes = 0;
  std::string new_version;
};

// False (with the reason in error) only when either installer cannot be read as one: a previous
// installer that is an update, an update installer that is none. What the update makes of the
// previous release is in trial.
bool TryUpdate(const std::string& previous_path, const std::string& update_path,
               UpdateTrial& trial, std::string& error);
