#include "files/file_being_written.h"

bool FileBeingWritten::Open(const wchar_t* path) {
  Close();
  if (!CopyBounded(path_.text, path_.capacity, path)) return false;
  handle_.Reset(CreateFileW(path_.text, GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, nullptr,
                            CREATE_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL,
                            nullptr));
  if (!handle_.IsValid()) {
    path_.text[0] = 0;
    return false;
  }
  return true;
}

void FileBeingWritten::Close() {
  handle_.Reset();
  path_.text[0] = 0;
}

bool FileBeingWritten::MarkForDeletion() {
  if (!handle_.IsValid()) return false;
  FILE_DISPOSITION_INFO disposition;
  disposition.DeleteFile = TRUE;
  // One byte: the structure's only member is a BOOLEAN.
  return SetFileInformationByHandle(handle_.Get(), FileDispositionInfo, &disposition, 1) != FALSE;
}

HANDLE FileBeingWritten::Duplicate() {
  if (!handle_.IsValid()) return INVALID_HANDLE_VALUE;
  HANDLE copy = INVALID_HANDLE_VALUE;
  if (!DuplicateHandle(GetCurrentProcess(), handle_.Get(), GetCurrentProcess(), &copy, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    return INVALID_HANDLE_VALUE;
  }
  return copy;
}
