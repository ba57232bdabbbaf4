#include "files/held_file.h"

#include "files/held_path.h"

namespace {

// The creation's and the seal's sharing: never deletion, so that the file keeps its name.
constexpr DWORD kShareWhileWritten = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kShareWhileHeld = FILE_SHARE_READ;

}  // namespace

uint32_t HeldFile::Create(const wchar_t* path) {
  Release();
  hold_.Reset(CreateFileW(path, GENERIC_READ, kShareWhileWritten, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!hold_.IsValid()) return GetLastError();
  writer_.Reset(ReOpenFile(hold_.Get(), GENERIC_WRITE, kShareWhileHeld, FILE_FLAG_SEQUENTIAL_SCAN));
  if (writer_.IsValid()) return ERROR_SUCCESS;
  const DWORD error = GetLastError();
  Release();
  return error;
}

uint32_t HeldFile::Seal() {
  writer_.Reset();
  FileHandle sealed(ReOpenFile(hold_.Get(), GENERIC_READ, kShareWhileHeld, 0));
  if (!sealed.IsValid()) {
    const DWORD error = GetLastError();
    Release();
    return error;
  }
  hold_ = static_cast<FileHandle&&>(sealed);
  return ERROR_SUCCESS;
}

uint32_t HeldFile::Hold(const wchar_t* path) {
  Release();
  return HoldPath(hold_, path, GENERIC_READ, kShareWhileHeld, 0, false);
}

void HeldFile::Release() {
  writer_.Reset();
  hold_.Reset();
}
