// The archive the installer hands over, read through Windows as the reader's ArchiveSource. The
// file is opened for reading with read sharing only: the installer holds it open and lets others
// read it, and nobody may change it while it is installed from.
#pragma once

#include <windows.h>

#include "base/owner.h"
#include "decode/byte_source.h"

class ArchiveFile : public ArchiveSource {
 public:
  bool Open(const wchar_t* path);
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* data, size_t size) override;

 private:
  FileHandle file_;
  uint64_t size_ = 0;
};
