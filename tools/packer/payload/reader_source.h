// The packer's bytes (platform/byte_source.h) as the setup program's 7z reader takes them, so that
// pack and check read an archive through the very reader the setup program installs with.
#pragma once

#include <string>

#include "decode/byte_source.h"
#include "platform/byte_source.h"

class ReaderSource final : public ArchiveSource {
 public:
  explicit ReaderSource(const ByteSource& bytes) : bytes_(bytes) {}
  uint64_t Size() const override { return bytes_.size(); }
  bool ReadAt(uint64_t offset, void* data, size_t size) override {
    std::string ignored;
    return bytes_.ReadAt(offset, data, size, ignored);
  }

 private:
  const ByteSource& bytes_;
};
