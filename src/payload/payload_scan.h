// Classifies the payload resources by the shared rule (lumora/payload_rules.h): a name that starts
// with "lumora" is the archive, one that starts with "setup" is the setup program (ASCII letters
// fold, nothing else does). Exactly one of each across all payload types; anything else is a
// malformed payload.
#pragma once

#include <stdint.h>

#include "base/bounded_string.h"
#include "payload/enumerate_resources.h"

// Refers to storage of the caller, so that what one type's enumeration records stays visible to
// the enumeration of the next type. The caller clears error before each enumeration.
struct PayloadScan final : ResourceVisitor {
  PayloadScan(PathBuffer& archive_name, ResourceBlob& archive, PathBuffer& setup_name,
              ResourceBlob& setup, uint32_t& error)
      : archive_name(archive_name), archive(archive), setup_name(setup_name), setup(setup),
        error(error) {}

  // Stops with error set to ERROR_TOO_MANY_NAMES for a second archive or setup program,
  // ERROR_FILENAME_EXCED_RANGE for a name of 260 units or more, ERROR_INVALID_DATA for a name
  // with neither prefix.
  bool OnResource(const wchar_t* name, const ResourceBlob& blob) override;

  PathBuffer& archive_name;
  ResourceBlob& archive;
  PathBuffer& setup_name;
  ResourceBlob& setup;
  uint32_t& error;
};
