// The small interfaces the delta engine reads and writes through, and the little-endian and
// variable-length integers of the patch archive and its deltas.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace delta {

// Bytes read in order from a stream. Read fills the whole buffer or fails: a short read is as
// much a fault as a corrupt one, since every size was declared in advance.
class ByteReader {
 public:
  virtual ~ByteReader() = default;
  virtual bool Read(uint8_t* buffer, size_t size) = 0;
};

// A reader over bytes in memory.
class MemoryReader final : public ByteReader {
 public:
  MemoryReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Read(uint8_t* buffer, size_t size) override;
  size_t Remaining() const { return size_ - at_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// Unsigned LEB128: seven bits a byte, low first, at most ten bytes.
void PutVarint(std::vector<uint8_t>& out, uint64_t value);
// Signed values zigzag-encoded, so that small negative numbers stay short.
void PutSignedVarint(std::vector<uint8_t>& out, int64_t value);
void PutLittleEndian(std::vector<uint8_t>& out, uint64_t value, int bytes);

// A cursor over bytes in memory that never reads past their end; every Take fails cleanly.
class ByteCursor {
 public:
  ByteCursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool TakeVarint(uint64_t& value);
  bool TakeSignedVarint(int64_t& value);
  bool TakeLittleEndian(uint64_t& value, int bytes);
  bool TakeBytes(const uint8_t*& bytes, size_t size);
  bool AtEnd() const { return at_ == size_; }
  size_t Remaining() const { return size_ - at_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

}  // namespace delta
