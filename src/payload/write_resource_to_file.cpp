#include "payload/write_resource_to_file.h"

#include <windows.h>

namespace {

// A single write of about 64 MB or more to a network volume can fail with
// ERROR_NO_SYSTEM_RESOURCES, so the archive of over 100 MB goes out in pieces of at most 8 MiB.
constexpr uint64_t kMaxChunk = 0x800000;

}  // namespace

uint32_t WriteResourceToFile(const ResourceBlob& blob, ExtractedFile& entry) {
  HeldFile& file = entry.file;
  const uint32_t created = file.Create(entry.path.text);
  if (created != ERROR_SUCCESS) return created;
  for (uint64_t offset = 0; offset < blob.size;) {
    const uint64_t remaining = blob.size - offset;
    const DWORD chunk = static_cast<DWORD>(remaining < kMaxChunk ? remaining : kMaxChunk);
    DWORD written = 0;
    if (!WriteFile(file.Writer(), blob.data + offset, chunk, &written, nullptr)) {
      const DWORD error = GetLastError();
      file.Release();
      return error;
    }
    // A synchronous write to a file that "succeeds" short has run out of room: the volume filled
    // up part way, and only the next write would have said so.
    if (written != chunk) {
      file.Release();
      return ERROR_DISK_FULL;
    }
    offset += chunk;
  }
  // No flush: the setup program reads the file through the same cache moments later.
  return file.Seal(blob.data, blob.size);
}
