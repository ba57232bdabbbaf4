// Bytes read at explicit offsets, whatever holds them: an input file (file_io.h), a setup program
// expanded from its cabinet into memory, a member's data as the loader maps it. The readers of
// programs and cabinets take any of them, so that what was checked is the very bytes that are
// used, and nothing is opened again by its path to be read a second time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class ByteSource {
 public:
  virtual uint64_t size() const = 0;
  // Reads exactly size bytes at offset; a read beyond the end is a failure, with the reason.
  virtual bool ReadAt(uint64_t offset, void* buffer, size_t size, std::string& error) const = 0;
  // What the bytes are, for messages: a path, or a description ("setup.exe from SETUP.EX_").
  virtual const std::string& path() const = 0;

 protected:
  ~ByteSource() = default;
};

// Bytes held in memory by the caller, which keeps them alive while the source is used.
class MemorySource final : public ByteSource {
 public:
  MemorySource(std::string name, const std::vector<uint8_t>& bytes)
      : name_(std::move(name)), bytes_(bytes) {}
  uint64_t size() const override { return bytes_.size(); }
  bool ReadAt(uint64_t offset, void* buffer, size_t size, std::string& error) const override;
  const std::string& path() const override { return name_; }

 private:
  std::string name_;
  const std::vector<uint8_t>& bytes_;
};
