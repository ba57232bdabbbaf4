#include "sample_install.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

#include "lumora/client_state_names.h"
#include "base/owner.h"
#include "seven_zip_reader.h"

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
      return kInstallArchiveRefused;
    case SevenZipStatus::kWriteFailed:
      return kInstallWriteFailed;
    case SevenZipStatus::kDamaged:
    case SevenZipStatus::kUnsafeName:
    case SevenZipStatus::kReadFailed:
      break;
  }
  return kInstallArchiveDamaged;
}

bool IsVersionCharacter(wchar_t c) {
  return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') ||
         c == L'.' || c == L'-' || c == L'_';
}

// The text of the top-level "VERSION" file, surrounding blanks and line ends removed.
int ReadVersion(HANDLE archive, const SevenZipListing& listing, std::wstring& version) {
  for (const SevenZipEntry& entry : listing.entries) {
    if (entry.is_directory || _wcsicmp(WideName(entry).c_str(), L"VERSION") != 0) continue;
    std::string bytes;
    const SevenZipStatus status = ReadEntryBytes(archive, listing, entry, 64, bytes);
    if (status == SevenZipStatus::kUnsupported) return kInstallNoVersion;  // too long
    if (status != SevenZipStatus::kOk) return CodeFor(status);
    size_t begin = 0;
    size_t end = bytes.size();
    while (begin < end && std::strchr(" \t\r\n", bytes[begin]) != nullptr) ++begin;
    while (end > begin && std::strchr(" \t\r\n", bytes[end - 1]) != nullptr) --end;
    version.assign(bytes.begin() + static_cast<std::ptrdiff_t>(begin),
                   bytes.begin() + static_cast<std::ptrdiff_t>(end));
    if (version.empty() || version.size() > kMaxVersionLength) return kInstallNoVersion;
    for (wchar_t c : version) {
      if (!IsVersionCharacter(c)) return kInstallNoVersion;
    }
    // "." and ".." are made of version characters but are no directory of their own.
    if (version.find_first_not_of(L'.') == std::wstring::npos) return kInstallNoVersion;
    return 0;
  }
  return kInstallNoVersion;
}

// Creates every missing directory of an absolute path such as C:\a\b.
bool CreateDirectoryPath(const std::wstring& path) {
  size_t at = 0;
  for (;;) {
    at = path.find(L'\\', at + 1);
    const std::wstring prefix = path.substr(0, at);
    if (prefix.size() > 2) {  // past the drive, which exists or cannot be made
      const DWORD attributes = GetFileAttributesW(prefix.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (!CreateDirectoryW(prefix.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
          return false;
        }
      } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return false;
      }
    }
    if (at == std::wstring::npos) return true;
  }
}

// Copies this program to target, unless it already is that file (the installed setup program
// reinstalling its own version).
bool CopySelf(const std::wstring& target) {
  wchar_t self[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return false;
  wchar_t full_target[MAX_PATH + 1] = {};
  const DWORD full_length = GetFullPathNameW(target.c_str(), MAX_PATH + 1, full_target, nullptr);
  if (full_length != 0 && full_length <= MAX_PATH && _wcsicmp(self, full_target) == 0) return true;
  return CopyFileW(self, target.c_str(), FALSE) != FALSE;
}

// Deletes a version directory that this installation made and could not complete, so that a
// failed installation leaves nothing of its own behind. A directory entry that is a reparse point
// is removed as a link, never followed.
void RemoveTree(const std::wstring& directory) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((directory + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = directory + L"\\" + name;
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        RemoveDirectoryW(path.c_str());
        DeleteFileW(path.c_str());
      } else if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        RemoveTree(path);
      } else {
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(directory.c_str());
}

bool Register(const InstallRequest& request, const std::wstring& setup_path) {
  const std::wstring key_path = std::wstring(kClientStateKeyPrefix) + request.app_id;
  HKEY key = nullptr;
  // The updater reads this key in the 32-bit view; so does the installer.
  if (RegCreateKeyExW(request.system_level ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER,
                      key_path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const std::wstring value = L"\"" + setup_path + L"\"";
  const LSTATUS status =
      RegSetValueExW(key, kUninstallStringValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

}  // namespace

std::wstring DefaultInstallRoot(bool system_level) {
  wchar_t base[MAX_PATH + 1] = {};
  const DWORD length = GetEnvironmentVariableW(system_level ? L"ProgramFiles" : L"LOCALAPPDATA",
                                               base, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return std::wstring();
  return std::wstring(base) + L"\\Lumora\\Application";
}

int InstallFromArchive(const InstallRequest& request) {
  const FileHandle archive(CreateFileW(request.archive, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!archive.IsValid()) return kInstallArchiveDamaged;
  SevenZipListing listing;
  SevenZipStatus status = ReadSevenZip(archive.Get(), listing);
  if (status != SevenZipStatus::kOk) return CodeFor(status);
  std::wstring version;
  if (const int code = ReadVersion(archive.Get(), listing, version)) return code;

  std::wstring root = request.root.empty() ? DefaultInstallRoot(request.system_level) : request.root;
  while (!root.empty() && root.back() == L'\\') root.pop_back();
  if (root.empty()) return kInstallWriteFailed;
  const std::wstring install_dir = root + L"\\" + version;
  // A version that is already there (a reinstallation) is written over and never removed.
  const bool made_here = GetFileAttributesW(install_dir.c_str()) == INVALID_FILE_ATTRIBUTES;
  if (!CreateDirectoryPath(install_dir)) return kInstallWriteFailed;
  const std::wstring setup_path = install_dir + L"\\setup.exe";
  status = ExtractSevenZip(archive.Get(), listing, install_dir + L"\\");
  int code = CodeFor(status);
  if (code == 0 && !CopySelf(setup_path)) code = kInstallWriteFailed;
  if (code == 0 && !Register(request, setup_path)) code = kInstallRegisterFailed;
  if (code != 0 && made_here) RemoveTree(install_dir);
  return code;
}
