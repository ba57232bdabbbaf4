// A file read front to back through Windows, as the delta library's ByteReader: the patch archive,
// a base file of the installed version, the setup program's own file.
#pragma once

#include <cstdint>
#include <string>

#include "base/owner.h"
#include "delta/engine/byte_stream.h"

class WindowsFileReader final : public delta::ByteReader {
 public:
  // An existing file, not a directory. Others may read it (the installer holds the archive open
  // for reading) but nobody may write it while it is read: the checked bytes stay the bytes used.
  bool Open(const std::wstring& path);
  uint64_t Size() const { return size_; }
  bool Read(uint8_t* buffer, size_t size) override;

 private:
  FileHandle file_;
  uint64_t size_ = 0;
};

// Whether the file begins with the patch archive's magic "LUMPATCH": an update's archive member
// holds a patch archive where a full installer's holds a 7z archive.
bool StartsWithPatchMagic(const wchar_t* path);
