#include "files/held_file.h"

#include "files/content_digest.h"
#include "files/held_path.h"

namespace {

// The creation's and the seal's sharing: never deletion, so that the file keeps its name.
constexpr DWORD kShareWhileWritten = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kShareWhileHeld = FILE_SHARE_READ;

}  // namespace

uint32_t HeldFile::Create(const wchar_t* path) {
  Release();
  // The writer comes first: from the file's first moment nobody else may write it, delete it or
  // rename it. A hold made first, sharing writing, would let another writer in before ours.
  writer_.Reset(CreateFileW(path, GENERIC_WRITE, kShareWhileHeld, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!writer_.IsValid()) return GetLastError();
  hold_.Reset(ReOpenFile(writer_.Get(), GENERIC_READ, kShareWhileWritten, 0));
  if (hold_.IsValid()) return ERROR_SUCCESS;
  const DWORD error = GetLastError();
  Release();
  return error;
}

uint32_t HeldFile::Seal() {
  // The content is taken down while the writer still keeps every other writer out, and again
  // through the seal once nobody else can write: a write between the two, in the moment when
  // neither handle is open, makes them differ.
  uint64_t key = 0;
  uint64_t written = 0;
  uint64_t sealed_content = 0;
  uint32_t error = NewDigestKey(key);
  if (error == ERROR_SUCCESS) error = ContentDigest(hold_.Get(), key, written);
  writer_.Reset();
  if (error == ERROR_SUCCESS) {
    FileHandle sealed(ReOpenFile(hold_.Get(), GENERIC_READ, kShareWhileHeld, 0));
    if (sealed.IsValid()) {
      hold_ = static_cast<FileHandle&&>(sealed);
      error = ContentDigest(hold_.Get(), key, sealed_content);
      if (error == ERROR_SUCCESS && sealed_content != written) error = ERROR_FILE_INVALID;
    } else {
      error = GetLastError();
    }
  }
  if (error != ERROR_SUCCESS) Release();
  return error;
}

uint32_t HeldFile::Hold(const wchar_t* path) {
  Release();
  return HoldPath(hold_, path, GENERIC_READ, kShareWhileHeld, 0, false);
}

void HeldFile::Release() {
  writer_.Reset();
  hold_.Reset();
}
