// The stub's own check of its resource directory (lumora/resource_directory.h), run on an image
// read from a file: the same rules on the same bytes, so that check refuses exactly the
// directories the stub refuses, with the reason in words.
#pragma once

#include <string>

#include "lumora/resource_directory.h"
#include "pe/pe_image.h"
#include "platform/byte_source.h"

// The shared rules' verdict on the image's resource directory; reason says what is wrong when
// they refuse it (and, for kUnread, what the file's read failed with).
ResourceCheck CheckResourceDirectoryOf(const PeImage& image, const ByteSource& file,
                                       std::string& reason);
