#include "update/file_reader.h"

#include <windows.h>

#include <cstring>

#include "delta/archive/patch_archive_format.h"

bool WindowsFileReader::Open(const std::wstring& path) {
  file_ = FileHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  BY_HANDLE_FILE_INFORMATION information;
  if (!file_.IsValid() || !GetFileInformationByHandle(file_.Get(), &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    file_.Reset();
    return false;
  }
  size_ = (uint64_t{information.nFileSizeHigh} << 32) | information.nFileSizeLow;
  return true;
}

bool WindowsFileReader::Read(uint8_t* buffer, size_t size) {
  while (size > 0) {
    const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD read = 0;
    if (!ReadFile(file_.Get(), buffer, chunk, &read, nullptr) || read != chunk) return false;
    buffer += chunk;
    size -= chunk;
  }
  return true;
}

bool StartsWithPatchMagic(const wchar_t* path) {
  WindowsFileReader file;
  uint8_t magic[sizeof delta::kPatchMagic];
  return file.Open(path) && file.Size() >= sizeof magic && file.Read(magic, sizeof magic) &&
         std::memcmp(magic, delta::kPatchMagic, sizeof magic) == 0;
}
