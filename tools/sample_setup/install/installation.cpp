#include "install/installation.h"

#include <windows.h>

#include <cstring>

#include "base/owner.h"
#include "install/archive_file.h"
#include "install/decimal_text.h"
#include "install/registration.h"
#include "install/staging.h"
#include "lumora/setup_exit_codes.h"

namespace {

// A version is a directory name and must also be found again inside "UninstallString": keep it
// short and plain.
constexpr size_t kMaxVersionLength = 32;

int CodeFor(SevenZipStatus status) {
  switch (status) {
    case SevenZipStatus::kOk:
      return 0;
    case SevenZipStatus::kNotSevenZip:
    case SevenZipStatus::kUnsupported:
      return SETUP_EXIT_ARCHIVE_REFUSED;
    case SevenZipStatus::kUnsupportedMethod:
    case SevenZipStatus::kTooLarge:
      return SETUP_EXIT_METHOD_UNSUPPORTED;
    case SevenZipStatus::kWriteFailed:
      return SETUP_EXIT_WRITE_FAILED;
    case SevenZipStatus::kDamaged:
    case SevenZipStatus::kUnsafeName:
    case SevenZipStatus::kReadFailed:
      break;
  }
  return SETUP_EXIT_ARCHIVE_DAMAGED;
}

bool IsVersionCharacter(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.' ||
         c == '-' || c == '_';
}

// The text of the staged top-level "VERSION" file, surrounding blanks and line ends removed.
int ReadVersion(const std::wstring& staging, std::wstring& version) {
  FileHandle file(CreateFileW((staging + L"\\VERSION").c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  char bytes[kMaxVersionLength * 2 + 1];
  DWORD size = 0;
  if (!file.IsValid() || !ReadFile(file.Get(), bytes, sizeof(bytes), &size, nullptr) ||
      size == sizeof(bytes)) {
    return SETUP_EXIT_NO_VERSION;
  }
  size_t begin = 0;
  size_t end = size;
  while (begin < end && std::strchr(" \t\r\n", bytes[begin]) != nullptr) ++begin;
  while (end > begin && std::strchr(" \t\r\n", bytes[end - 1]) != nullptr) --end;
  if (end == begin || end - begin > kMaxVersionLength) return SETUP_EXIT_NO_VERSION;
  version.clear();
  for (size_t i = begin; i < end; ++i) {
    if (!IsVersionCharacter(bytes[i])) return SETUP_EXIT_NO_VERSION;
    version.push_back(static_cast<wchar_t>(bytes[i]));
  }
  // "." and ".." are made of version characters but are no directory of their own.
  if (version.find_first_not_of(L'.') == std::wstring::npos) return SETUP_EXIT_NO_VERSION;
  return 0;
}

bool CopySelf(const std::wstring& target) {
  wchar_t self[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return false;
  return CopyFileW(self, target.c_str(), FALSE) != FALSE;
}

// Steps 2 and 3: the staged installation, moved into place. made_here tells whether the version
// folder is this installation's own.
int StageAndPlace(ArchiveFile& source, const SevenZipArchive& archive, const std::wstring& root,
                  const std::wstring& staging, std::wstring& install_dir, bool& made_here) {
  RemoveTree(staging);  // left by a run that was ended, under a reused process id
  if (!CreateDirectoryW(staging.c_str(), nullptr)) return SETUP_EXIT_WRITE_FAILED;
  if (const int code = CodeFor(StageArchive(source, archive, staging))) return code;
  std::wstring version;
  if (const int code = ReadVersion(staging, version)) return code;
  if (!CopySelf(staging + L"\\setup.exe")) return SETUP_EXIT_WRITE_FAILED;
  install_dir = root + L"\\" + version;
  made_here = MoveFileExW(staging.c_str(), install_dir.c_str(), 0) != FALSE;
  if (made_here) return 0;
  // A version already installed (a reinstallation, perhaps by its own setup.exe) is written over.
  const DWORD attributes = GetFileAttributesW(install_dir.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return SETUP_EXIT_WRITE_FAILED;
  }
  return MergeTree(staging, install_dir) ? 0 : SETUP_EXIT_WRITE_FAILED;
}

}  // namespace

int InstallFromArchive(const InstallRequest& request) {
  ArchiveFile source;
  if (!source.Open(request.archive)) return SETUP_EXIT_ARCHIVE_DAMAGED;
  SevenZipArchive archive;
  if (const int code = CodeFor(OpenSevenZip(source, archive))) return code;
  if (!AllMethodsSupported(archive, nullptr) || LargestFolderMemory(archive) > kInstallMemoryLimit) {
    return SETUP_EXIT_METHOD_UNSUPPORTED;
  }
  std::wstring root = request.root.empty() ? DefaultInstallRoot(request.system_level) : request.root;
  while (!root.empty() && root.back() == L'\\') root.pop_back();
  if (root.empty() || !CreateDirectoryPath(root)) return SETUP_EXIT_WRITE_FAILED;
  const std::wstring staging =
      root + L"\\.setup-" + DecimalText(GetCurrentProcessId()) + L".tmp";
  std::wstring install_dir;
  bool made_here = false;
  int code = StageAndPlace(source, archive, root, staging, install_dir, made_here);
  if (code == 0 &&
      !RegisterSetupProgram(request.system_level, request.app_id, install_dir + L"\\setup.exe")) {
    code = SETUP_EXIT_REGISTER_FAILED;
    if (made_here) RemoveTree(install_dir);
  }
  RemoveTree(staging);  // gone already when it was moved into place
  return code;
}
