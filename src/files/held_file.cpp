#include "files/held_file.h"

#include "files/content_match.h"
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

uint32_t HeldFile::Narrow() {
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

// Each check comes after the seal, once nobody else can write: a write in the moment between the
// writer's close and the seal, when neither handle keeps writers out, is still in the file then.
uint32_t HeldFile::Seal(const uint8_t* genuine, uint64_t size) {
  uint32_t error = Narrow();
  if (error == ERROR_SUCCESS) error = MatchContent(hold_.Get(), genuine, size);
  if (error != ERROR_SUCCESS) Release();
  return error;
}

uint32_t HeldFile::Seal(const ContentDigest& written) {
  uint32_t error = Narrow();
  uint64_t sealed_content = 0;
  if (error == ERROR_SUCCESS) error = written.OfFile(hold_.Get(), sealed_content);
  if (error == ERROR_SUCCESS && sealed_content != written.Value()) error = ERROR_FILE_INVALID;
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
