// Reading an image's resource directory: every resource as (type, name, language) with where its
// data lies, in the order the directory stores them, which is the order in which Windows
// enumerates them. The directory comes from files nobody vouches for, so the walk is bounded by
// the bytes it reads: no table is read twice, and a directory that claims more tables, entries
// and names than its bytes can hold is refused before the work is done.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "pe/pe_image.h"
#include "resources/resource.h"

// extent, when given, receives how many bytes from the directory's start its tables, entries and
// names reach: the bytes the loader's resource functions read.
bool ReadResourceListing(const PeImage& image, const ByteSource& file,
                         std::vector<Resource>& resources, std::string& error,
                         uint32_t* extent = nullptr);
