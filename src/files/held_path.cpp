#include "files/held_path.h"

uint32_t HoldPath(FileHandle& handle, const wchar_t* path, DWORD access, DWORD share, DWORD flags,
                  bool directory) {
  handle.Reset(CreateFileW(path, access, share, nullptr, OPEN_EXISTING,
                           flags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!handle.IsValid()) return GetLastError();
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(handle.Get(), &information)) {
    const DWORD error = GetLastError();
    handle.Reset();
    return error;
  }
  const DWORD attributes = information.dwFileAttributes;
  const bool is_directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (is_directory != directory || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    handle.Reset();
    return ERROR_CANT_RESOLVE_FILENAME;
  }
  return ERROR_SUCCESS;
}
