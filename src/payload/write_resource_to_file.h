// Writing one payload member from the mapped image straight to a file, without a copy in memory.
#pragma once

#include <stdint.h>

#include "files/extracted_files.h"
#include "payload/resource_blob.h"

// Creates the entry's file (which must not exist yet), writes the blob's bytes and seals it
// (held_file.h), once the sealed file is seen to hold exactly the blob: from then on it is held,
// and others may only read it. Returns 0 or the Windows error of the call that failed
// (ERROR_FILE_INVALID when the file does not hold the blob); then nothing is held, and what was
// created is left to the run's clean-up, like every listed file that does not stay.
uint32_t WriteResourceToFile(const ResourceBlob& blob, ExtractedFile& entry);
