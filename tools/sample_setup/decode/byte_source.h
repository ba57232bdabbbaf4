// Where a decoder's bytes come from and where they go. The archive is read through a ArchiveSource
// at offsets the header gives (a file on Windows, memory in the tests and the fuzzing tree); every
// decoding step is a ByteStream that the next one pulls from, so that only a bounded window of the
// data is ever in memory, whatever the archive's size.
#pragma once

#include <cstddef>
#include <cstdint>

#include "decode/decode_status.h"

class ArchiveSource {
 public:
  virtual ~ArchiveSource() = default;
  virtual uint64_t Size() const = 0;
  // Exactly size bytes at offset, or false (a short read is a failure: the header said they exist).
  virtual bool ReadAt(uint64_t offset, void* data, size_t size) = 0;
};

// An archive already in memory.
class MemoryArchiveSource : public ArchiveSource {
 public:
  MemoryArchiveSource(const void* data, size_t size)
      : data_(static_cast<const unsigned char*>(data)), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* data, size_t size) override;

 private:
  const unsigned char* data_;
  size_t size_;
};

class ByteStream {
 public:
  virtual ~ByteStream() = default;
  // Up to capacity bytes into out; produced == 0 with kOk is the end of the stream.
  virtual DecodeStatus Read(unsigned char* out, size_t capacity, size_t& produced) = 0;
};

// Reads exactly size bytes from a stream, failing (kDamaged) when it ends first.
DecodeStatus ReadFully(ByteStream& in, unsigned char* out, size_t size);
