// The Linux (POSIX) side of file_io.h.
#include "file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::string ErrnoText(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// A fresh, exclusively created file named after path with a random suffix, in the same
// directory, so that the final rename stays within one file system.
int CreateBeside(const std::string& path, const char* tag, std::string& created) {
  std::vector<char> name(path.begin(), path.end());
  const std::string suffix = std::string(".") + tag + "-XXXXXX";
  name.insert(name.end(), suffix.begin(), suffix.end());
  name.push_back('\0');
  int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) created = name.data();
  return fd;
}

bool WriteAll(int fd, const uint8_t* data, size_t size, const std::string& path,
              std::string& error) {
  while (size > 0) {
    ssize_t put = write(fd, data, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      error = ErrnoText("cannot write", path);
      return false;
    }
    data += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

}  // namespace

void InputFile::Close() {
  if (open_) close(file_);
  open_ = false;
}

bool InputFile::Open(const std::string& path, std::string& error) {
  // Opening a FIFO for reading waits for a writer unless it is opened non-blocking; the type
  // is known only once it is open.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = ErrnoText("cannot open", path);
    return false;
  }
  struct stat info;
  if (fstat(fd, &info) != 0) {
    error = ErrnoText("cannot examine", path);
    close(fd);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    error = path + " is not a regular file";
    close(fd);
    return false;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    error = ErrnoText("cannot read", path);
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
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = ErrnoText("cannot read", path_);
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
  file_ = CreateBeside(final_path, "partial", temp_path_);
  if (file_ < 0) {
    error = ErrnoText("cannot create a file beside", final_path);
    return false;
  }
  open_ = true;
  final_path_ = final_path;
  return true;
}

bool StagedFile::Write(const void* data, size_t size, std::string& error) {
  return WriteAll(file_, static_cast<const uint8_t*>(data), size, temp_path_, error);
}

bool StagedFile::WriteAt(uint64_t offset, const void* data, size_t size, std::string& error) {
  ssize_t put = pwrite(file_, data, size, static_cast<off_t>(offset));
  if (put != static_cast<ssize_t>(size)) {
    error = ErrnoText("cannot write", temp_path_);
    return false;
  }
  return true;
}

bool StagedFile::Commit(std::string& error) {
  // mkostemp makes the file private (0600); an installer is an ordinary executable file.
  mode_t mask = umask(0);
  umask(mask);
  open_ = false;
  const bool made_executable = fchmod(file_, 0777 & ~mask) == 0;
  if (close(file_) != 0 || !made_executable) {
    error = ErrnoText("cannot finish", temp_path_);
    return false;
  }
  if (rename(temp_path_.c_str(), final_path_.c_str()) != 0) {
    error = ErrnoText("cannot rename to", final_path_);
    return false;
  }
  temp_path_.clear();
  return true;
}

ScratchFile::~ScratchFile() {
  if (!path_.empty()) unlink(path_.c_str());
}

bool ScratchFile::Create(const std::string& beside, const char* tag, std::string& error) {
  int fd = CreateBeside(beside, tag, path_);
  if (fd < 0) {
    error = ErrnoText("cannot create a file beside", beside);
    return false;
  }
  close(fd);
  return true;
}

bool ProgramArguments(int argc, char** argv, std::vector<std::string>& args, std::string&) {
  args.assign(argv + 1, argv + argc);
  return true;
}

void UseBinaryStandardStreams() {}
