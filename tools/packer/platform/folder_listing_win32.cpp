// The Windows side of folder_listing.h: names read with the wide API and passed on as UTF-8.
#include "platform/folder_listing.h"

#include <windows.h>

#include "platform/utf_text.h"

namespace {

// Closes the search handle on every path out of ListFolder.
class FindHandle {
 public:
  explicit FindHandle(HANDLE handle) : handle_(handle) {}
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  ~FindHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_);
  }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

bool ToWide(const std::string& text, std::wstring& wide) {
  std::u16string utf16;
  if (!Utf8ToUtf16(text, utf16)) return false;
  wide.assign(utf16.begin(), utf16.end());
  return true;
}

std::string ErrorCodeText(DWORD code) { return "Windows error " + std::to_string(code); }

}  // namespace

PathKind KindOfPath(const std::string& path) {
  std::wstring wide;
  if (!ToWide(path, wide)) return PathKind::kMissing;
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kMissing;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return PathKind::kFolder;
  if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) return PathKind::kOther;
  return PathKind::kFile;
}

bool ListFolder(const std::string& folder, std::vector<FolderEntry>& entries, std::string& error) {
  entries.clear();
  std::wstring pattern;
  if (!ToWide(folder + "\\*", pattern)) {
    error = "the folder name " + folder + " is not valid UTF-8";
    return false;
  }
  WIN32_FIND_DATAW found;
  FindHandle search(FindFirstFileW(pattern.c_str(), &found));
  if (search.get() == INVALID_HANDLE_VALUE) {
    error = "cannot read the folder " + folder + ": " + ErrorCodeText(GetLastError());
    return false;
  }
  do {
    const std::u16string wide_name(found.cFileName, found.cFileName + wcslen(found.cFileName));
    const std::string name = Utf16ToUtf8(wide_name);
    if (name == "." || name == "..") continue;
    const std::string path = folder + "\\" + name;
    const bool folder_entry = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && folder_entry) {
      error = path + " is a link to a folder, which an archive cannot carry; copy the folder in";
      return false;
    }
    FolderEntry entry;
    entry.name = name;
    entry.is_folder = folder_entry;
    if (!folder_entry) {
      entry.size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    }
    entries.push_back(entry);
  } while (FindNextFileW(search.get(), &found));
  const DWORD code = GetLastError();
  if (code != ERROR_NO_MORE_FILES) {
    error = "cannot read the folder " + folder + ": " + ErrorCodeText(code);
    return false;
  }
  return true;
}
