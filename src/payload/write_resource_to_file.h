// Writing one payload member from the mapped image straight to a file, without a copy in memory.
#pragma once

#include "payload/resource_blob.h"

// Creates (or truncates) the file at path and writes the blob's bytes. On failure the last error
// names the cause and the file does not remain.
bool WriteResourceToFile(const ResourceBlob& blob, const wchar_t* path);
