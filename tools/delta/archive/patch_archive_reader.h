// Reading a patch archive's header and directory from untrusted bytes: every count and size is
// checked against the format's bounds before anything is allocated for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "delta/archive/patch_archive_format.h"

namespace delta {

// False with the reason when the header is not one of ours or names a size out of bounds.
bool DecodeHeader(const uint8_t* bytes, size_t size, PatchHeader& header, std::string& error);

// The directory's entries, checked: valid kinds and names, names in strictly ascending byte
// order and distinct under ASCII case folding (Windows' file names), every size in bounds, and
// the stream's decoded size the sum of the entries'.
bool DecodeDirectory(const PatchHeader& header, const uint8_t* bytes, size_t size,
                     std::vector<PatchEntry>& entries, std::string& error);

}  // namespace delta
