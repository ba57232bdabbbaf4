#include "install/archive_file.h"

bool ArchiveFile::Open(const wchar_t* path) {
  file_ = FileHandle(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  LARGE_INTEGER size;
  if (!file_.IsValid() || !GetFileSizeEx(file_.Get(), &size)) return false;
  size_ = static_cast<uint64_t>(size.QuadPart);
  return true;
}

bool ArchiveFile::ReadAt(uint64_t offset, void* data, size_t size) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(file_.Get(), position, nullptr, FILE_BEGIN)) return false;
  unsigned char* out = static_cast<unsigned char*>(data);
  while (size > 0) {
    const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD read = 0;
    if (!ReadFile(file_.Get(), out, chunk, &read, nullptr) || read != chunk) return false;
    out += chunk;
    size -= chunk;
  }
  return true;
}
