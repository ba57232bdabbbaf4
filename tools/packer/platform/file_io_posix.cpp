// The Linux (POSIX) side of file_io.h.
#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::string ErrnoText(const std::string& what, const std::string& path, int code) {
  return what + " " + path + ": " + std::strerror(code);
}

// A fresh, exclusively created file named after path with a random suffix, in the same
// directory, so that the final rename stays within one file system. On failure, the error names
// the folder, which is what the user can change.
int CreateBeside(const std::string& path, const char* tag, std::string& created,
                 std::string& error) {
  std::vector<char> name(path.begin(), path.end());
  const std::string suffix = std::string(".") + tag + "-XXXXXX";
  name.insert(name.end(), suffix.begin(), suffix.end());
  name.push_back('\0');
  int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    error = ErrnoText("cannot write into the folder", FolderOf(path), errno);
    return -1;
  }
  created = name.data();
  return fd;
}

// write and pwrite may write less than asked (a signal, a full disk on the way) or be
// interrupted before writing anything: both go on with the rest. A call that makes no progress
// without an error is taken as a full disk rather than retried forever.
bool WriteAll(int fd, const uint8_t* data, size_t size, bool positioned, uint64_t offset,
              const std::string& path, std::string& error) {
  while (size > 0) {
    const ssize_t put = positioned ? pwrite(fd, data, size, static_cast<off_t>(offset))
                                   : write(fd, data, size);
    if (put < 0) {
      const int code = errno;
      if (code == EINTR) continue;
      error = ErrnoText("cannot write", path, code);
      return false;
    }
    if (put == 0) {
      error = ErrnoText("cannot write", path, ENOSPC);
      return false;
    }
    data += put;
    offset += static_cast<uint64_t>(put);
    size -= static_cast<size_t>(put);
  }
  return true;
}

const char* FileTypeWords(mode_t mode) {
  if (S_ISDIR(mode)) return "is a directory";
  if (S_ISCHR(mode)) return "is a character device";
  if (S_ISBLK(mode)) return "is a block device";
  if (S_ISFIFO(mode)) return "is a FIFO";
  if (S_ISSOCK(mode)) return "is a socket";
  return "is not a regular file";
}

// Makes a finished rename last through a crash. Best effort: the installer is complete and in
// place by now, and some file systems cannot sync a directory at all.
void SyncFolder(const std::string& path) {
  const int fd = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  while (fsync(fd) != 0 && errno == EINTR) {
  }
  close(fd);
}

}  // namespace

void InputFile::Close() {
  if (open_) close(file_);
  open_ = false;
}

bool InputFile::Open(const std::string& path, std::string& error, const char* what) {
  // Opening a FIFO for reading waits for a writer unless it is opened non-blocking; the type
  // is known only once it is open.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = ErrnoText("cannot open", Described(path, what), errno);
    return false;
  }
  struct stat info;
  if (fstat(fd, &info) != 0) {
    error = ErrnoText("cannot examine", Described(path, what), errno);
    close(fd);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    error = Described(path, what) + " " + FileTypeWords(info.st_mode) + ", not a regular file";
    close(fd);
    return false;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    error = ErrnoText("cannot read", Described(path, what), errno);
    close(fd);
    return false;
  }
  Close();
  file_ = fd;
  open_ = true;
  path_ = path;
  size_ = static_cast<uint64_t>(info.st_size);
  mtime_ = static_cast<int64_t>(info.st_mtime);
  identity_ = {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
  // Payloads are read front to back once.
  posix_fadvise(file_, 0, 0, POSIX_FADV_SEQUENTIAL);
  return true;
}

bool InputFile::ReadAt(uint64_t offset, void* buffer, size_t size, std::string& error) const {
  auto* out = static_cast<uint8_t*>(buffer);
  while (size > 0) {
    ssize_t got = pread(file_, out, size, static_cast<off_t>(offset));
    if (got < 0) {
      const int code = errno;
      if (code == EINTR) continue;
      error = ErrnoText("cannot read", path_, code);
      return false;
    }
    if (got == 0) {
      error = "unexpected end of " + path_ + " (did it change while packing?)";
      return false;
    }
    out += got;
    offset += static_cast<uint64_t>(got);
    size -= static_cast<size_t>(got);
  }
  return true;
}

bool NamesOpenFile(const std::string& path, const InputFile& file) {
  struct stat info;
  if (!file.IsOpen() || stat(path.c_str(), &info) != 0) return false;
  return FileIdentity{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)} ==
         file.identity();
}

StagedFile::~StagedFile() {
  if (open_) close(file_);
  if (!temp_path_.empty()) unlink(temp_path_.c_str());
}

bool StagedFile::Create(const std::string& final_path, std::string& error) {
  if (!CheckReplaceable(final_path, error)) return false;
  file_ = CreateBeside(final_path, "partial", temp_path_, error);
  if (file_ < 0) return false;
  removal_.Watch(temp_path_);
  open_ = true;
  final_path_ = final_path;
  return true;
}

bool StagedFile::Write(const void* data, size_t size, std::string& error) {
  return WriteAll(file_, static_cast<const uint8_t*>(data), size, false, 0, final_path_, error);
}

bool StagedFile::WriteAt(uint64_t offset, const void* data, size_t size, std::string& error) {
  return WriteAll(file_, static_cast<const uint8_t*>(data), size, true, offset, final_path_, error);
}

bool StagedFile::Commit(std::string& error) {
  // mkostemp makes the file private (0600); an installer is an ordinary executable file.
  mode_t mask = umask(0);
  umask(mask);
  open_ = false;
  int code = 0;
  if (fchmod(file_, 0777 & ~mask) != 0) code = errno;
  while (code == 0 && fsync(file_) != 0) {
    if (errno != EINTR) code = errno;
  }
  if (close(file_) != 0 && code == 0) code = errno;
  if (code != 0) {
    error = ErrnoText("cannot save", final_path_, code);
    return false;
  }
  // The check again, as close to the rename as it gets: something may have appeared at the
  // path while the installer was written.
  if (!CheckReplaceable(final_path_, error)) return false;
  if (rename(temp_path_.c_str(), final_path_.c_str()) != 0) {
    error = ErrnoText("cannot rename to", final_path_, errno);
    return false;
  }
  temp_path_.clear();
  removal_.Forget();
  SyncFolder(final_path_);
  return true;
}

ScratchFile::~ScratchFile() {
  if (!path_.empty()) unlink(path_.c_str());
}

bool ScratchFile::Create(const std::string& beside, const char* tag, std::string& error) {
  int fd = CreateBeside(beside, tag, path_, error);
  if (fd < 0) return false;
  removal_.Watch(path_);
  close(fd);
  return true;
}

bool CheckReplaceable(const std::string& path, std::string& error) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode)) return true;
  error = path + " " + FileTypeWords(info.st_mode) + ", not a regular file";
  return false;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string ExecutablePath() {
  std::vector<char> buffer(4096);
  const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) return "";
  return std::string(buffer.data(), static_cast<size_t>(n));
}

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

bool ProgramArguments(int argc, char** argv, std::vector<std::string>& args, std::string&) {
  args.assign(argv + 1, argv + argc);
  return true;
}

void UseBinaryStandardStreams() {}
