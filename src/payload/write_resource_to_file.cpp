#include "payload/write_resource_to_file.h"

#include <windows.h>

#include "files/file_being_written.h"

namespace {

// A single write of about 64 MB or more to a network volume can fail with
// ERROR_NO_SYSTEM_RESOURCES, so the archive of over 100 MB goes out in pieces of at most 8 MiB.
constexpr uint64_t kMaxChunk = 0x800000;

}  // namespace

bool WriteResourceToFile(const ResourceBlob& blob, const wchar_t* path) {
  FileBeingWritten file;
  if (!file.Open(path)) return false;
  for (uint64_t offset = 0; offset < blob.size;) {
    const uint64_t remaining = blob.size - offset;
    const DWORD chunk = static_cast<DWORD>(remaining < kMaxChunk ? remaining : kMaxChunk);
    DWORD written = 0;
    const BOOL ok = WriteFile(file.Handle(), blob.data + offset, chunk, &written, nullptr);
    if (!ok || written != chunk) {
      // A synchronous write to a file that "succeeds" short has run out of room: the volume filled
      // up part way, and only the next write would have said so.
      const DWORD error = ok ? ERROR_DISK_FULL : GetLastError();
      (void)file.MarkForDeletion();
      file.Close();
      SetLastError(error);
      return false;
    }
    offset += chunk;
  }
  // No flush: the setup program reads the file through the same cache moments later.
  file.Close();
  return true;
}
