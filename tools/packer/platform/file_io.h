// The packer's contact with the operating system, the one part that differs between its Linux
// and its Windows build: inputs read at explicit offsets (so that a gigabyte payload is never
// held in memory), outputs that appear under their final name only when complete, the identity
// of a file whatever path names it, and the program's arguments and standard streams. Everything
// above this speaks UTF-8 paths and bytes, so that both builds write the same installer.
// file_io.cpp holds what both builds share; file_io_posix.cpp and file_io_win32.cpp the rest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/byte_source.h"
#include "platform/interrupt_removal.h"

#ifdef _WIN32
using NativeFile = void*;  // a HANDLE
#else
using NativeFile = int;    // a file descriptor
#endif

// A file's identity: the device (volume serial) and the inode (file index) that no other file on
// the machine shares while it exists.
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t index = 0;
  bool operator==(const FileIdentity& other) const {
    return volume == other.volume && index == other.index;
  }
};

// What the packer reads or writes of a large file at a time: large enough to run at disk speed,
// small enough that packing never holds much of a payload.
constexpr size_t kCopyChunk = 4 << 20;

// An input file opened for reading. Move-only; closes on destruction.
class InputFile final : public ByteSource {
 public:
  InputFile() = default;
  InputFile(InputFile&& other) noexcept;
  InputFile& operator=(InputFile&& other) noexcept;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  // Opens a regular file; on failure returns false with the reason in error, which calls the file
  // "the <what> <path>" when what is given ("archive"). Anything else (a FIFO, a device) is
  // refused without waiting for a writer to appear.
  bool Open(const std::string& path, std::string& error, const char* what = nullptr);
  bool IsOpen() const;
  const std::string& path() const override { return path_; }
  uint64_t size() const override { return size_; }
  // The last modification, in seconds since 1970 (UTC).
  int64_t mtime() const { return mtime_; }
  const FileIdentity& identity() const { return identity_; }
  // Reads exactly size bytes at offset; a short read (the file shrank) is a failure.
  bool ReadAt(uint64_t offset, void* buffer, size_t size, std::string& error) const override;

 private:
  void Close();

  NativeFile file_{};
  bool open_ = false;
  std::string path_;
  uint64_t size_ = 0;
  int64_t mtime_ = 0;
  FileIdentity identity_;
};

// "the archive app.7z" for what "archive", or the path alone without what: how messages name a file.
std::string Described(const std::string& path, const char* what);

// Whether path names the very file that is open, so that a hard link or another spelling of the
// path is caught as well as the same text. False when nothing exists at path.
bool NamesOpenFile(const std::string& path, const InputFile& file);

// A file staged under a temporary name beside its final path (the installer, the setup cabinet)
// and renamed over that path by Commit; until then nothing new exists under the final name, and
// the temporary file is removed on destruction, so every failure leaves the final path untouched.
// Only a regular file is ever replaced: a device, a FIFO, a socket or a directory at the final
// path is refused, since renaming over it would replace a device node (as root) or a FIFO that
// another program reads with an ordinary file. Commit flushes the file to the disk before the
// rename, and on Linux the directory after it, so that a crash never leaves a name pointing at
// a file whose data was never written. An interrupted packer removes the temporary file too
// (interrupt_removal.h).
class StagedFile {
 public:
  StagedFile() = default;
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;
  ~StagedFile();

  // Refuses a final path that exists and is not a regular file, then creates the temporary file.
  bool Create(const std::string& final_path, std::string& error);
  bool Write(const void* data, size_t size, std::string& error);
  // Writes at offset without moving where Write appends.
  bool WriteAt(uint64_t offset, const void* data, size_t size, std::string& error);
  const std::string& temp_path() const { return temp_path_; }
  // Closes the file and renames it to the final path, replacing what was there.
  bool Commit(std::string& error);

 private:
  NativeFile file_{};
  bool open_ = false;
  std::string temp_path_;
  std::string final_path_;
  InterruptRemoval removal_;  // declared last: watches until the destructor has removed the file
};

// A temporary file beside a given path that is removed on destruction, or when the packer is
// interrupted (the setup cabinet while it waits to be copied into the installer).
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
  InterruptRemoval removal_;
};

// Refuses an existing path that is not a regular file (nothing at path is fine): what is there is
// named in the reason ("is a character device", "is a FIFO", "is a directory").
bool CheckReplaceable(const std::string& path, std::string& error);

// The folder part of a path, "." when it has none: where a file of that path is created.
std::string FolderOf(const std::string& path);

// The path of the running program itself (/proc/self/exe, GetModuleFileNameW); empty when the
// system does not say.
std::string ExecutablePath();

// Whether standard error is a terminal (a console on Windows) that a person watches.
bool StandardErrorIsTerminal();

// The program's arguments after its name, as UTF-8. On Windows they are taken from the wide
// command line, so that any file name reaches the packer; false when one is no valid text.
bool ProgramArguments(int argc, char** argv, std::vector<std::string>& args, std::string& error);

// Standard output and error as byte streams: the same bytes on every platform (no "\r\n").
void UseBinaryStandardStreams();
