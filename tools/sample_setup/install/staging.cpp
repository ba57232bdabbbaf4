#include "install/staging.h"

#include <windows.h>

#include "base/owner.h"
#include "seven_zip/folder_extraction.h"

namespace {

// The attributes an installation takes over from the archive: none that would change what a
// file is (directory, reparse point, sparse, compressed, encrypted, a Unix mode in the high bits).
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

std::wstring PathOf(const std::wstring& staging, const SevenZipFile& file) {
  return staging + L"\\" + std::wstring(file.name.begin(), file.name.end());
}

// The directories of a relative name below base, made as needed.
bool MakeParents(const std::wstring& base, const std::u16string& name, bool whole) {
  std::wstring path = base;
  size_t start = 0;
  while (start < name.size()) {
    size_t end = name.find(u'\\', start);
    if (end == std::u16string::npos) {
      if (!whole) return true;
      end = name.size();
    }
    path += L'\\';
    path.append(name.begin() + static_cast<std::ptrdiff_t>(start),
                name.begin() + static_cast<std::ptrdiff_t>(end));
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      return false;
    }
    start = end + 1;
  }
  return true;
}

void ApplyAttributes(const std::wstring& path, const SevenZipFile& file) {
  if (!file.has_attributes) return;
  const DWORD kept = file.attributes & kKeptAttributes;
  if (kept != 0) SetFileAttributesW(path.c_str(), kept);
}

// Receives a folder's files and writes each one straight to its place in the staging folder.
class StagingWriter : public SevenZipFileReceiver {
 public:
  StagingWriter(const std::wstring& staging, const SevenZipArchive& archive)
      : staging_(staging), archive_(archive) {}

  SevenZipStatus Begin(size_t index) override {
    const SevenZipFile& file = archive_.files[index];
    if (!MakeParents(staging_, file.name, false)) return SevenZipStatus::kWriteFailed;
    file_ = FileHandle(CreateFileW(PathOf(staging_, file).c_str(), GENERIC_WRITE, 0, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file_.IsValid() ? SevenZipStatus::kOk : SevenZipStatus::kWriteFailed;
  }
  SevenZipStatus Write(const unsigned char* data, size_t size) override {
    DWORD written = 0;
    return WriteFile(file_.Get(), data, static_cast<DWORD>(size), &written, nullptr) &&
                   written == size
               ? SevenZipStatus::kOk
               : SevenZipStatus::kWriteFailed;
  }
  SevenZipStatus End(size_t index) override {
    file_.Reset();
    ApplyAttributes(PathOf(staging_, archive_.files[index]), archive_.files[index]);
    return SevenZipStatus::kOk;
  }

 private:
  const std::wstring& staging_;
  const SevenZipArchive& archive_;
  FileHandle file_;
};

bool IsThisProgram(const std::wstring& path) {
  wchar_t self[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH + 1);
  wchar_t full[MAX_PATH + 1] = {};
  const DWORD full_length = GetFullPathNameW(path.c_str(), MAX_PATH + 1, full, nullptr);
  return length != 0 && length <= MAX_PATH && full_length != 0 && full_length <= MAX_PATH &&
         _wcsicmp(self, full) == 0;
}

}  // namespace

SevenZipStatus StageArchive(ArchiveSource& source, const SevenZipArchive& archive,
                            const std::wstring& staging) {
  // Directories and empty files first: they need no decoding.
  for (const SevenZipFile& file : archive.files) {
    if (file.folder != kNoFolder) continue;
    if (!MakeParents(staging, file.name, file.is_directory)) return SevenZipStatus::kWriteFailed;
    if (file.is_directory) continue;
    const std::wstring path = PathOf(staging, file);
    FileHandle empty(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!empty.IsValid()) return SevenZipStatus::kWriteFailed;
    empty.Reset();
    ApplyAttributes(path, file);
  }
  StagingWriter writer(staging, archive);
  for (size_t f = 0; f < archive.folders.size(); ++f) {
    const SevenZipStatus status = ExtractFolder(source, archive, f, kInstallMemoryLimit, writer);
    if (status != SevenZipStatus::kOk) return status;
  }
  // Directories last, so that a read-only one was still writable while it was filled.
  for (const SevenZipFile& file : archive.files) {
    if (file.is_directory) ApplyAttributes(PathOf(staging, file), file);
  }
  return SevenZipStatus::kOk;
}

bool MergeTree(const std::wstring& staging, const std::wstring& target) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((staging + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring from = staging + L"\\" + name;
    const std::wstring to = target + L"\\" + name;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      ok = (CreateDirectoryW(to.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) &&
           MergeTree(from, to) && ok;
    } else if (!IsThisProgram(to)) {
      SetFileAttributesW(to.c_str(), FILE_ATTRIBUTE_NORMAL);  // a read-only file is replaced too
      ok = MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE && ok;
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return ok;
}

void RemoveTree(const std::wstring& directory) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((directory + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = directory + L"\\" + name;
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
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
  SetFileAttributesW(directory.c_str(), FILE_ATTRIBUTE_NORMAL);
  RemoveDirectoryW(directory.c_str());
}

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
