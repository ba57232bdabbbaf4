#include "update/setup_patch.h"

#include <windows.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "base/owner.h"
#include "delta/archive/patch_applier.h"
#include "delta/archive/patch_archive_reader.h"
#include "lumora/setup_exit_codes.h"
#include "update/file_reader.h"

namespace {

constexpr char kSetupName[] = "setup.exe";
// One entry with a name and a base of nine bytes takes well under a hundred bytes of directory.
constexpr uint64_t kMaxSetupPatchDirectory = 4096;

// Step 1: exactly one entry, "setup.exe", made from "setup.exe" when it has a base.
bool IsSetupPatch(const wchar_t* path) {
  WindowsFileReader file;
  uint8_t header_bytes[delta::kPatchHeaderSize];
  delta::PatchHeader header;
  std::string error;
  if (!file.Open(path) || !file.Read(header_bytes, sizeof header_bytes) ||
      !delta::DecodeHeader(header_bytes, sizeof header_bytes, header, error) ||
      header.entry_count != 1 || header.directory_size > kMaxSetupPatchDirectory) {
    return false;
  }
  std::vector<uint8_t> directory(static_cast<size_t>(header.directory_size));
  std::vector<delta::PatchEntry> entries;
  if (!file.Read(directory.data(), directory.size()) ||
      !delta::DecodeDirectory(header, directory.data(), directory.size(), entries, error)) {
    return false;
  }
  const delta::PatchEntry& entry = entries[0];
  return entry.name == kSetupName && entry.kind != delta::EntryKind::kRemoved &&
         (entry.kind != delta::EntryKind::kPatched || entry.base_name == kSetupName);
}

// The base tree: this program's own file as "setup.exe", nothing else.
class SelfTree final : public delta::OldTree {
 public:
  std::unique_ptr<delta::ByteReader> Open(const std::string& name, uint64_t& size) override {
    wchar_t self[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH + 1);
    if (name != kSetupName || length == 0 || length > MAX_PATH) return nullptr;
    std::unique_ptr<WindowsFileReader> reader(new (std::nothrow) WindowsFileReader);
    if (!reader || !reader->Open(self)) return nullptr;
    size = reader->Size();
    return reader;
  }
};

// The new tree: "setup.exe" written to one file, made only when the applier starts writing it
// (after the base was checked).
class SetupFileTree final : public delta::NewTree {
 public:
  explicit SetupFileTree(std::wstring path) : path_(std::move(path)) {}
  bool Begin(const std::string& name, uint64_t size) override {
    if (name != kSetupName || file_.IsValid()) return false;
    file_ = FileHandle(CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    left_ = size;
    return file_.IsValid();
  }
  bool Write(const uint8_t* bytes, size_t size) override {
    DWORD written = 0;
    if (!file_.IsValid() || size > left_ || size > 0xFFFFFFFFu ||
        !WriteFile(file_.Get(), bytes, static_cast<DWORD>(size), &written, nullptr) ||
        written != size) {
      return false;
    }
    left_ -= size;
    return true;
  }
  bool End() override {
    const bool whole = file_.IsValid() && left_ == 0;
    file_.Reset();
    return whole;
  }
  // The setup program's patch carries one file and no folder.
  bool MakeFolder(const std::string&) override { return false; }
  void Close() { file_.Reset(); }

 private:
  std::wstring path_;
  FileHandle file_;
  uint64_t left_ = 0;
};

// Beside new_setup, under a name no longer than "setup.exe": the installer leaves room in the
// work directory's path for that name and no more.
std::wstring TemporaryBeside(const std::wstring& new_setup) {
  const size_t separator = new_setup.find_last_of(L"\\/");
  const std::wstring folder =
      separator == std::wstring::npos ? std::wstring() : new_setup.substr(0, separator + 1);
  std::wstring name = L"~0000.tmp";
  const DWORD id = GetCurrentProcessId();
  for (int digit = 0; digit < 4; ++digit) {
    name[4 - digit] = L"0123456789abcdef"[(id >> (4 * digit)) & 0xF];
  }
  return folder + name;
}

}  // namespace

int PatchSetupProgram(const wchar_t* patch, const wchar_t* new_setup) {
  if (!IsSetupPatch(patch)) return SETUP_EXIT_PATCH_UNREADABLE;
  WindowsFileReader archive;
  if (!archive.Open(patch)) return SETUP_EXIT_PATCH_UNREADABLE;
  const std::wstring temporary = TemporaryBeside(new_setup);
  SelfTree old_tree;
  SetupFileTree new_tree(temporary);
  std::string detail;
  const delta::ApplyResult result =
      delta::ApplyPatchArchive(archive, old_tree, new_tree, delta::ApplyLimits{}, detail);
  new_tree.Close();
  int code = SETUP_EXIT_PATCH_UNREADABLE;
  switch (result) {
    case delta::ApplyResult::kApplied:
      code = MoveFileExW(temporary.c_str(), new_setup, MOVEFILE_REPLACE_EXISTING)
                 ? 0
                 : SETUP_EXIT_NEW_SETUP_UNWRITABLE;
      break;
    case delta::ApplyResult::kBaseMismatch:
    case delta::ApplyResult::kTooLarge:
      code = SETUP_EXIT_UPDATE_MISMATCH;
      break;
    case delta::ApplyResult::kWriteFailed:
      code = SETUP_EXIT_NEW_SETUP_UNWRITABLE;
      break;
    case delta::ApplyResult::kCorrupt:
      break;
  }
  if (code != 0) DeleteFileW(temporary.c_str());
  return code;
}
