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

// The directories below the staging folder, made as the archive's names need them. Each attempt
// to make one that exists costs a round trip to the file system (to Wine's server under Wine),
// and an archive's names come grouped by folder, so the directory made last, and every
// directory above it, is known to exist and is not made again.
class Directories {
 public:
  explicit Directories(const std::wstring& staging) : staging_(staging) {}

  // The directories of name, the last one too when whole (name is a directory itself).
  bool MakeFor(const std::u16string& name, bool whole) {
    const size_t slash = name.rfind(u'\\');
    const size_t length = whole ? name.size() : (slash == std::u16string::npos ? 0 : slash);
    if (length == 0 || Exists(name, length)) return true;
    std::wstring path = staging_;
    path.reserve(staging_.size() + 1 + length);
    size_t start = 0;
    while (start < length) {
      size_t end = name.find(u'\\', start);
      if (end == std::u16string::npos || end > length) end = length;
      path += L'\\';
      path.append(name.begin() + static_cast<std::ptrdiff_t>(start),
                  name.begin() + static_cast<std::ptrdiff_t>(end));
      if (!Exists(name, end) && !CreateDirectoryW(path.c_str(), nullptr) &&
          GetLastError() != ERROR_ALREADY_EXISTS) {
        return false;
      }
      start = end + 1;
    }
    made_.assign(name, 0, length);
    return true;
  }

 private:
  // Whether the first length units of name are the directory made last or one above it.
  bool Exists(const std::u16string& name, size_t length) const {
    return length <= made_.size() && (length == made_.size() || made_[length] == u'\\') &&
           made_.compare(0, length, name, 0, length) == 0;
  }

  const std::wstring& staging_;
  std::u16string made_;
};

// The attributes an installed file keeps from the archive. All but read-only are given as the
// file is created, which costs nothing more; read-only is set once the file is written and closed.
DWORD KeptAttributes(const SevenZipFile& file) {
  return file.has_attributes ? file.attributes & kKeptAttributes : 0;
}

FileHandle CreateStagedFile(const std::wstring& path, const SevenZipFile& file) {
  const DWORD attributes = KeptAttributes(file) & ~DWORD{FILE_ATTRIBUTE_READONLY};
  return FileHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool FinishStagedFile(const std::wstring& path, const SevenZipFile& file) {
  const DWORD attributes = KeptAttributes(file);
  return (attributes & FILE_ATTRIBUTE_READONLY) == 0 ||
         SetFileAttributesW(path.c_str(), attributes) != FALSE;
}

void ApplyDirectoryAttributes(const std::wstring& path, const SevenZipFile& file) {
  const DWORD kept = KeptAttributes(file);
  if (kept != 0) SetFileAttributesW(path.c_str(), kept);
}

// Receives a folder's files and writes each one straight to its place in the staging folder.
class StagingWriter : public SevenZipFileReceiver {
 public:
  StagingWriter(const std::wstring& staging, const SevenZipArchive& archive,
                Directories& directories)
      : staging_(staging), archive_(archive), directories_(directories) {}

  SevenZipStatus Begin(size_t index) override {
    const SevenZipFile& file = archive_.files[index];
    if (!directories_.MakeFor(file.name, false)) return SevenZipStatus::kWriteFailed;
    path_ = PathOf(staging_, file);
    file_ = CreateStagedFile(path_, file);
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
    FinishStagedFile(path_, archive_.files[index]);
    return SevenZipStatus::kOk;
  }

 private:
  const std::wstring& staging_;
  const SevenZipArchive& archive_;
  Directories& directories_;
  std::wstring path_;
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
  Directories directories(staging);
  // Directories and empty files first: they need no decoding.
  for (const SevenZipFile& file : archive.files) {
    if (file.folder != kNoFolder) continue;
    if (!directories.MakeFor(file.name, file.is_directory)) return SevenZipStatus::kWriteFailed;
    if (file.is_directory) continue;
    const std::wstring path = PathOf(staging, file);
    FileHandle empty = CreateStagedFile(path, file);
    if (!empty.IsValid()) return SevenZipStatus::kWriteFailed;
    empty.Reset();
    FinishStagedFile(path, file);
  }
  StagingWriter writer(staging, archive, directories);
  for (size_t f = 0; f < archive.folders.size(); ++f) {
    const SevenZipStatus status = ExtractFolder(source, archive, f, kInstallMemoryLimit, writer);
    if (status != SevenZipStatus::kOk) return status;
  }
  // Directories last, so that a read-only one was still writable while it was filled.
  for (const SevenZipFile& file : archive.files) {
    if (file.is_directory) ApplyDirectoryAttributes(PathOf(staging, file), file);
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
