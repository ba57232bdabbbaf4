#include "update/staging_tree.h"

#include <windows.h>

#include "install/staging.h"
#include "update/entry_path.h"

bool StagingTree::PathFor(const std::string& name, std::wstring& path) {
  if (file_.IsValid()) return false;
  if (!EntryPath(folder_, name, path)) {
    refused_name_ = true;
    return false;
  }
  if (!folder_made_) {
    if (!CreateDirectoryW(folder_.c_str(), nullptr)) return false;
    folder_made_ = true;
  }
  return true;
}

bool StagingTree::MakeFolder(const std::string& name) {
  std::wstring path;
  return PathFor(name, path) && CreateDirectoryPath(path);
}

bool StagingTree::Begin(const std::string& name, uint64_t size) {
  std::wstring path;
  if (!PathFor(name, path)) return false;
  const size_t separator = path.rfind(L'\\');
  if (separator > folder_.size() && !CreateDirectoryPath(path.substr(0, separator))) return false;
  // CREATE_NEW: the archive's names are distinct, also in letter case, so a file that is there
  // already is a fault, not something to write over.
  file_ = FileHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  left_ = size;
  return file_.IsValid();
}

bool StagingTree::Write(const uint8_t* bytes, size_t size) {
  if (!file_.IsValid() || size > left_) return false;
  while (size > 0) {
    const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(file_.Get(), bytes, chunk, &written, nullptr) || written != chunk) return false;
    bytes += chunk;
    size -= chunk;
    left_ -= chunk;
  }
  return true;
}

bool StagingTree::End() {
  if (!file_.IsValid() || left_ != 0) return false;
  file_.Reset();
  return true;
}
