// A fresh directory under the temporary directory for one test, removed with everything in it
// afterwards, and what tests do with files in it.
#pragma once

#include <windows.h>

#include <string.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

class ScratchDirectory {
 public:
  ScratchDirectory() {
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    static LONG counter = 0;
    const std::wstring base(temp, length);
    for (;;) {
      path_ = base + L"lumora-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
              std::to_wstring(InterlockedIncrement(&counter)) + L"\\";
      if (CreateDirectoryW(path_.c_str(), nullptr)) break;
      if (GetLastError() != ERROR_ALREADY_EXISTS) {
        path_.clear();
        break;
      }
    }
  }
  ~ScratchDirectory() {
    if (!path_.empty()) RemoveTree(path_);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  bool Ok() const { return !path_.empty(); }
  // With a trailing backslash.
  const std::wstring& Path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + name; }

  static bool WriteFile(const std::wstring& path, const char* text = "x") {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = ::WriteFile(file, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
    CloseHandle(file);
    return ok != FALSE;
  }
  static bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

 private:
  // Does not follow links: a link is removed as itself.
  static void RemoveTree(const std::wstring& directory) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((directory + L"*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring full = directory + name;
        SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        const bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
          if (!link) RemoveTree(full + L"\\");
          RemoveDirectoryW(full.c_str());
        } else {
          DeleteFileW(full.c_str());
        }
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
    RemoveDirectoryW(directory.c_str());
  }

  std::wstring path_;
};

// Everything below directory, as paths relative to it, sorted; empty when it does not exist.
inline std::vector<std::wstring> ListTree(const std::wstring& directory) {
  namespace fs = std::filesystem;
  std::vector<std::wstring> names;
  std::error_code ignored;
  for (const auto& entry : fs::recursive_directory_iterator(fs::path(directory), ignored)) {
    names.push_back(fs::relative(entry.path(), fs::path(directory)).wstring());
  }
  std::sort(names.begin(), names.end());
  return names;
}
