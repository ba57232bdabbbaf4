#include "install/installation.h"

#include <windows.h>

#include <cstring>

#include "base/owner.h"
#include "install/archive_file.h"
#include "install/decimal_text.h"
#include "install/registration.h"
#include "install/staging.h"
#include "seven_zip/install_check.h"
#include "lumora/setup_exit_codes.h"

namespace {

// A version is a directory name and must also be found again inside "UninstallString": keep it
// short and plain.
constexpr size_t kMaxVersionLength = 32;

bool IsVersionCharacter(wchar_t c) {
  return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') ||
         c == L'.' || c == L'-' || c == L'_';
}

bool CopySelf(const std::wstring& target) {
  wchar_t self[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return false;
  return CopyFileW(self, target.c_str(), FALSE) != FALSE;
}

}  // namespace

bool IsPlainVersion(const std::wstring& version) {
  if (version.empty() || version.size() > kMaxVersionLength) return false;
  for (const wchar_t c : version) {
    if (!IsVersionCharacter(c)) return false;
  }
  // "." and ".." are made of version characters but are no directory of their own.
  return version.find_first_not_of(L'.') != std::wstring::npos;
}

int ReadStagedVersion(const std::wstring& staging, std::wstring& version) {
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
  version.clear();
  for (size_t i = begin; i < end; ++i) {
    // Bytes above 0x7F are no version character; widened as they stand, they stay refused.
    version.push_back(static_cast<wchar_t>(static_cast<unsigned char>(bytes[i])));
  }
  return IsPlainVersion(version) ? 0 : SETUP_EXIT_NO_VERSION;
}

std::wstring InstallRoot(const InstallRequest& request) {
  std::wstring root = request.root.empty() ? DefaultInstallRoot(request.system_level) : request.root;
  while (!root.empty() && root.back() == L'\\') root.pop_back();
  return root;
}

std::wstring StagingFolderIn(const std::wstring& root) {
  return root + L"\\.setup-" + DecimalText(GetCurrentProcessId()) + L".tmp";
}

int PlaceAndRegister(const InstallRequest& request, const std::wstring& root,
                     const std::wstring& staging, const std::wstring& version) {
  if (!CopySelf(staging + L"\\setup.exe")) return SETUP_EXIT_WRITE_FAILED;
  const std::wstring install_dir = root + L"\\" + version;
  const bool made_here = MoveFileExW(staging.c_str(), install_dir.c_str(), 0) != FALSE;
  if (!made_here) {
    // A version already installed (a reinstallation, perhaps by its own setup.exe) is written over.
    const DWORD attributes = GetFileAttributesW(install_dir.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        !MergeTree(staging, install_dir)) {
      return SETUP_EXIT_WRITE_FAILED;
    }
  }
  if (!RegisterSetupProgram(request.system_level, request.app_id, install_dir + L"\\setup.exe")) {
    if (made_here) RemoveTree(install_dir);
    return SETUP_EXIT_REGISTER_FAILED;
  }
  return 0;
}

int InstallFromArchive(const InstallRequest& request) {
  ArchiveFile source;
  if (!source.Open(request.archive)) return SETUP_EXIT_ARCHIVE_DAMAGED;
  SevenZipArchive archive;
  const InstallCheck check = CheckArchiveForInstall(source, archive);
  if (check.status != SevenZipStatus::kOk) return static_cast<int>(SetupExitCodeFor(check.status));
  const std::wstring root = InstallRoot(request);
  if (root.empty() || !CreateDirectoryPath(root)) return SETUP_EXIT_WRITE_FAILED;
  const std::wstring staging = StagingFolderIn(root);
  RemoveTree(staging);  // left by a run that was ended, under a reused process id
  if (!CreateDirectoryW(staging.c_str(), nullptr)) return SETUP_EXIT_WRITE_FAILED;
  int code = static_cast<int>(SetupExitCodeFor(StageArchive(source, archive, staging)));
  std::wstring version;
  if (code == 0) code = ReadStagedVersion(staging, version);
  if (code == 0) code = PlaceAndRegister(request, root, staging, version);
  RemoveTree(staging);  // gone already when it was moved into place
  return code;
}
