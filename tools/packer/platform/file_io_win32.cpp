// The Windows side of file_io.h. Paths arrive as UTF-8 and are opened as UTF-16 with the wide
// API, so that a file name in any script works; inputs share reading, writing and deletion as a
// POSIX open does, so that the installer being written can be read back before it is renamed.
#include "platform/file_io.h"

#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace {

// Seconds from 1601-01-01 (FILETIME's epoch) to 1970-01-01.
constexpr int64_t kFileTimeToUnixSeconds = 11644473600;
constexpr int64_t kFileTimeTicksPerSecond = 10000000;
// ReadFile and WriteFile take 32-bit counts; larger transfers go in pieces of this size.
constexpr DWORD kLargestTransfer = 1u << 30;
// Attempts at a fresh temporary name before giving up (another process took every one).
constexpr int kNameAttempts = 100;

bool ToWide(const std::string& text, std::wstring& wide) {
  wide.clear();
  if (text.empty()) return true;
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                    static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return false;
  wide.resize(static_cast<size_t>(n));
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                             static_cast<int>(text.size()), &wide[0], n) == n;
}

bool ToUtf8(const wchar_t* wide, std::string& text) {
  text.clear();
  if (wide[0] == 0) return true;
  const int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, nullptr, 0, nullptr,
                                    nullptr);
  if (n <= 0) return false;
  text.resize(static_cast<size_t>(n));
  if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, &text[0], n, nullptr,
                          nullptr) != n) {
    return false;
  }
  text.resize(static_cast<size_t>(n) - 1);  // the terminator
  return true;
}

// "what path: the system's message", with the error taken before anything else can change it.
std::string ErrorText(const std::string& what, const std::string& path, DWORD code) {
  wchar_t message[512] = {};
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, message, 512, nullptr);
  std::string text;
  if (n == 0 || !ToUtf8(message, text)) text = "error " + std::to_string(code);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                           text.back() == '.')) {
    text.pop_back();
  }
  return what + " " + path + ": " + text;
}

std::string LastErrorText(const std::string& what, const std::string& path) {
  return ErrorText(what, path, GetLastError());
}

HANDLE OpenForReading(const std::string& path, DWORD access, DWORD flags, std::string& error,
                      const char* what = nullptr) {
  std::wstring wide;
  if (!ToWide(path, wide)) {
    error = "cannot open " + Described(path, what) + ": the name is not valid UTF-8";
    return INVALID_HANDLE_VALUE;
  }
  HANDLE file = CreateFileW(wide.c_str(), access,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, flags, nullptr);
  if (file == INVALID_HANDLE_VALUE) error = LastErrorText("cannot open", Described(path, what));
  return file;
}

FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return {info.dwVolumeSerialNumber,
          (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

// A fresh file named after path with a tag and a suffix of its own, in the same directory, so
// that the final move stays within one volume. CREATE_NEW never opens a file that exists.
// Deletion is shared so that an interrupted packer can delete the file while it is open: it goes
// when the handle closes, as the process ends.
HANDLE CreateBeside(const std::string& path, const char* tag, std::string& created,
                    std::string& error) {
  static unsigned counter = 0;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    char suffix[64];
    std::snprintf(suffix, sizeof(suffix), ".%s-%08lX%04X", tag, GetCurrentProcessId(),
                  static_cast<unsigned>((GetTickCount() + ++counter * 7919u) & 0xFFFF));
    const std::string name = path + suffix;
    std::wstring wide;
    if (!ToWide(name, wide)) {
      error = "cannot write " + path + ": the name is not valid UTF-8";
      return INVALID_HANDLE_VALUE;
    }
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      created = name;
      return file;
    }
    const DWORD code = GetLastError();
    if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
      error = ErrorText("cannot write into the folder", FolderOf(path), code);
      return INVALID_HANDLE_VALUE;
    }
  }
  error = "cannot write into the folder " + FolderOf(path) + ": every temporary name is taken";
  return INVALID_HANDLE_VALUE;
}

void DeleteByName(const std::string& path) {
  std::wstring wide;
  if (ToWide(path, wide)) DeleteFileW(wide.c_str());
}

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

// Writes all of size bytes at the file pointer, or at *offset when it is given.
bool WriteAll(HANDLE file, const std::string& path, const uint8_t* in, size_t size,
              uint64_t* offset, std::string& error) {
  while (size > 0) {
    const DWORD want = size < kLargestTransfer ? static_cast<DWORD>(size) : kLargestTransfer;
    OVERLAPPED at = At(offset != nullptr ? *offset : 0);
    DWORD put = 0;
    if (!WriteFile(file, in, want, &put, offset != nullptr ? &at : nullptr)) {
      error = LastErrorText("cannot write", path);
      return false;
    }
    // A disk file takes all or fails; no progress without an error is a full disk, and the
    // last error would be stale.
    if (put == 0) {
      error = ErrorText("cannot write", path, ERROR_DISK_FULL);
      return false;
    }
    in += put;
    size -= put;
    if (offset != nullptr) *offset += put;
  }
  return true;
}

}  // namespace

void InputFile::Close() {
  if (open_) CloseHandle(file_);
  open_ = false;
}

bool InputFile::Open(const std::string& path, std::string& error, const char* what) {
  HANDLE file = OpenForReading(path, GENERIC_READ, FILE_FLAG_SEQUENTIAL_SCAN, error, what);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  // A pipe or a console reads as a stream that ends when its writer says so, not as a file.
  if (GetFileType(file) != FILE_TYPE_DISK) {
    error = Described(path, what) + " is a device or a pipe, not a regular file";
    CloseHandle(file);
    return false;
  }
  if (!GetFileInformationByHandle(file, &info)) {
    error = LastErrorText("cannot examine", Described(path, what));
    CloseHandle(file);
    return false;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    error = Described(path, what) + " is a directory, not a regular file";
    CloseHandle(file);
    return false;
  }
  Close();
  file_ = file;
  open_ = true;
  path_ = path;
  size_ = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  const int64_t ticks = static_cast<int64_t>(
      (uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) | info.ftLastWriteTime.dwLowDateTime);
  mtime_ = ticks / kFileTimeTicksPerSecond - kFileTimeToUnixSeconds;
  identity_ = IdentityOf(info);
  return true;
}

bool InputFile::ReadAt(uint64_t offset, void* buffer, size_t size, std::string& error) const {
  auto* out = static_cast<uint8_t*>(buffer);
  while (size > 0) {
    const DWORD want = size < kLargestTransfer ? static_cast<DWORD>(size) : kLargestTransfer;
    OVERLAPPED at = At(offset);
    DWORD got = 0;
    if (!ReadFile(file_, out, want, &got, &at)) {
      const DWORD code = GetLastError();
      if (code != ERROR_HANDLE_EOF) {
        error = ErrorText("cannot read", path_, code);
        return false;
      }
      got = 0;
    }
    if (got == 0) {
      error = "unexpected end of " + path_ + " (did it change while packing?)";
      return false;
    }
    out += got;
    offset += got;
    size -= got;
  }
  return true;
}

bool NamesOpenFile(const std::string& path, const InputFile& file) {
  if (!file.IsOpen()) return false;
  std::string ignored;
  // No access asked for: a file that is open for writing elsewhere is still found. Directories
  // open only with backup semantics, and are never an input.
  HANDLE other = OpenForReading(path, 0, FILE_FLAG_BACKUP_SEMANTICS, ignored);
  if (other == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool same = GetFileInformationByHandle(other, &info) && IdentityOf(info) == file.identity();
  CloseHandle(other);
  return same;
}

StagedFile::~StagedFile() {
  if (open_) CloseHandle(file_);
  if (!temp_path_.empty()) DeleteByName(temp_path_);
}

bool StagedFile::Create(const std::string& final_path, std::string& error) {
  if (!CheckReplaceable(final_path, error)) return false;
  HANDLE file = CreateBeside(final_path, "partial", temp_path_, error);
  if (file == INVALID_HANDLE_VALUE) return false;
  removal_.Watch(temp_path_);
  file_ = file;
  open_ = true;
  final_path_ = final_path;
  return true;
}

bool StagedFile::Write(const void* data, size_t size, std::string& error) {
  return WriteAll(file_, final_path_, static_cast<const uint8_t*>(data), size, nullptr, error);
}

bool StagedFile::WriteAt(uint64_t offset, const void* data, size_t size, std::string& error) {
  // A positioned write on a synchronous handle moves its file pointer; Write goes on from where
  // it was.
  LARGE_INTEGER zero = {}, position = {};
  if (!SetFilePointerEx(file_, zero, &position, FILE_CURRENT)) {
    error = LastErrorText("cannot write", final_path_);
    return false;
  }
  if (!WriteAll(file_, final_path_, static_cast<const uint8_t*>(data), size, &offset, error)) {
    return false;
  }
  if (!SetFilePointerEx(file_, position, nullptr, FILE_BEGIN)) {
    error = LastErrorText("cannot write", final_path_);
    return false;
  }
  return true;
}

bool StagedFile::Commit(std::string& error) {
  open_ = false;
  // The data reaches the disk before the name does.
  const bool flushed = FlushFileBuffers(file_) != 0;
  const DWORD code = flushed ? ERROR_SUCCESS : GetLastError();
  if (!CloseHandle(file_) || !flushed) {
    error = ErrorText("cannot save", final_path_, flushed ? GetLastError() : code);
    return false;
  }
  std::wstring from, to;
  if (!ToWide(temp_path_, from) || !ToWide(final_path_, to)) {
    error = "cannot rename to " + final_path_ + ": the name is not valid UTF-8";
    return false;
  }
  // The check again, as close to the move as it gets.
  if (!CheckReplaceable(final_path_, error)) return false;
  // Replaces an existing file in one step, and returns only once the move is on the disk.
  if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = LastErrorText("cannot rename to", final_path_);
    return false;
  }
  temp_path_.clear();
  removal_.Forget();
  return true;
}

ScratchFile::~ScratchFile() {
  if (!path_.empty()) DeleteByName(path_);
}

bool ScratchFile::Create(const std::string& beside, const char* tag, std::string& error) {
  HANDLE file = CreateBeside(beside, tag, path_, error);
  if (file == INVALID_HANDLE_VALUE) return false;
  removal_.Watch(path_);
  CloseHandle(file);
  return true;
}

bool CheckReplaceable(const std::string& path, std::string& error) {
  std::string ignored;
  // No access asked for, and backup semantics so that a directory opens too. A name Windows
  // keeps for a device ("NUL", "CON", "\\.\...") opens as one.
  HANDLE existing = OpenForReading(path, 0, FILE_FLAG_BACKUP_SEMANTICS, ignored);
  if (existing == INVALID_HANDLE_VALUE) return true;
  BY_HANDLE_FILE_INFORMATION info;
  const DWORD type = GetFileType(existing);
  const bool examined = GetFileInformationByHandle(existing, &info) != 0;
  CloseHandle(existing);
  if (type != FILE_TYPE_DISK) {
    error = path + " is a device or a pipe, not a regular file";
    return false;
  }
  if (examined && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    error = path + " is a directory, not a regular file";
    return false;
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) {
    // "C:file" is a file in drive C's current folder.
    return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : ".";
  }
  return slash == 0 || (slash == 2 && path[1] == ':') ? path.substr(0, slash + 1)
                                                     : path.substr(0, slash);
}

std::string ExecutablePath() {
  // Paths may exceed MAX_PATH; the buffer grows until the name fits.
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
    if (n == 0) return "";
    if (n < buffer.size()) {
      buffer.resize(n);
      break;
    }
    if (buffer.size() >= 32768) return "";
    buffer.resize(buffer.size() * 2);
  }
  std::string path;
  return ToUtf8(buffer.c_str(), path) ? path : "";
}

bool StandardErrorIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

bool ProgramArguments(int, char**, std::vector<std::string>& args, std::string& error) {
  // The C runtime's argv is in the ANSI code page, which cannot name every file; the wide
  // command line can.
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) {
    error = "cannot read the command line";
    return false;
  }
  args.clear();
  bool ok = true;
  for (int i = 1; i < count && ok; ++i) {
    std::string text;
    ok = ToUtf8(wide[i], text);
    if (ok) {
      args.push_back(std::move(text));
    } else {
      error = "argument " + std::to_string(i) + " is not valid UTF-16 text";
    }
  }
  LocalFree(wide);
  return ok;
}

void UseBinaryStandardStreams() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}
