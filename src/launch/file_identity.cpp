#include "launch/file_identity.h"

#include "base/owner.h"

uint32_t ReadFileIdentity(const wchar_t* path, FileIdentity& identity) {
  identity = FileIdentity();
  // No data access: the open takes no part in sharing, so another program's handles (the
  // installer's own image, mapped to run) never refuse it, and it refuses nobody.
  const FileHandle file(CreateFileW(path, FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file.IsValid()) return GetLastError();
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(file.Get(), &information)) return GetLastError();
  identity.volume_serial = information.dwVolumeSerialNumber;
  identity.index_high = information.nFileIndexHigh;
  identity.index_low = information.nFileIndexLow;
  return ERROR_SUCCESS;
}
