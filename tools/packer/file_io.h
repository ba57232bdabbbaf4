// Files as the packer uses them: inputs read at explicit offsets (so that a gigabyte payload is
// never held in memory), and an output that appears under its final name only when it is complete.
#pragma once

#include <cstdint>
#include <string>

// An input file opened for reading. Move-only; closes on destruction.
class InputFile {
 public:
  InputFile() = default;
  InputFile(InputFile&& other) noexcept;
  InputFile& operator=(InputFile&& other) noexcept;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  // Opens a regular file; on failure returns false with the reason in error. Anything else (a
  // FIFO, a device) is refused without waiting for a writer to appear.
  bool Open(const std::string& path, std::string& error);
  bool IsOpen() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }
  uint64_t size() const { return size_; }
  int64_t mtime() const { return mtime_; }
  // Reads exactly size bytes at offset; a short read (the file shrank) is a failure.
  bool ReadAt(uint64_t offset, void* buffer, size_t size, std::string& error) const;

 private:
  int fd_ = -1;
  std::string path_;
  uint64_t size_ = 0;
  int64_t mtime_ = 0;
  uint64_t device_ = 0;
  uint64_t inode_ = 0;

  friend bool NamesOpenFile(const std::string& path, const InputFile& file);
};

// Whether path names the very file that is open (the same device and inode), so that a hard
// link or another spelling of the path is caught as well as the same text. False when nothing
// exists at path.
bool NamesOpenFile(const std::string& path, const InputFile& file);

// A file staged under a temporary name beside its final path (the installer, the setup cabinet)
// and renamed over that path by Commit; until then nothing new exists under the final name, and
// the temporary file is removed on destruction, so every failure leaves the final path untouched.
class StagedFile {
 public:
  StagedFile() = default;
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;
  ~StagedFile();

  bool Create(const std::string& final_path, std::string& error);
  bool IsOpen() const { return fd_ >= 0; }
  bool Write(const void* data, size_t size, std::string& error);
  bool WriteAt(uint64_t offset, const void* data, size_t size, std::string& error);
  const std::string& temp_path() const { return temp_path_; }
  // Closes the file and renames it to the final path.
  bool Commit(std::string& error);

 private:
  int fd_ = -1;
  std::string temp_path_;
  std::string final_path_;
};

// A temporary file beside a given path that is removed on destruction (the setup cabinet while
// it waits to be copied into the installer).
class ScratchFile {
 public:
  ScratchFile() = default;
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  ~ScratchFile();
  bool Create(const std::string& beside, const char* tag, std::string& error);
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string ErrnoText(const std::string& what, const std::string& path);
