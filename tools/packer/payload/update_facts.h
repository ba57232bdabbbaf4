// An installer that is an update: its archive member is a patch archive (docs/patch-archive.md)
// and its setup program a patch. What check reports of it: the version it updates and what
// becomes of each file, read from the patch archive's directory.
#pragma once

#include <cstdint>
#include <string>

#include "payload/payload_layout.h"

struct UpdateFacts {
  bool is_update = false;  // the archive member starts as a patch archive
  // The directory read and checked; else the reason it could not be.
  bool readable = false;
  std::string problem;
  std::string previous_version;  // RT_RCDATA 1, UTF-8; empty when there is none
  uint32_t unchanged = 0, patched = 0, added = 0, removed = 0;
  uint64_t new_bytes = 0;  // the new release's files, in all
  // The setup program's patch: "patched", "added", or what is wrong with it.
  std::string setup_patch;
  // check --against: the update applied on the host to a previous installer's content.
  bool tried = false;
  std::string against;            // the previous installer's path
  bool gives_new_release = false;
  uint32_t setup_exit_code = 0;   // when it does not: the setup program's code, and why
  std::string reason;
  std::string new_version;        // when it does: the new release's version and size
  uint64_t new_files = 0;

  // Tried against a previous installer, and it does not give the new release.
  bool Fails() const { return tried && !gives_new_release; }
};

// Reads the facts from the members the stub takes (the layout's verdict names them).
void ReadUpdateFacts(const PayloadLayout& layout, const ResourceData& data, UpdateFacts& facts);

// "update from 1.0.0.0: 3 patched, 1 added, 1 removed, 120 unchanged".
std::string UpdateSummary(const UpdateFacts& facts);
