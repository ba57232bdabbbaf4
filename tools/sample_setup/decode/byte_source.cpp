#include "decode/byte_source.h"

#include <cstring>

bool MemoryArchiveSource::ReadAt(uint64_t offset, void* data, size_t size) {
  if (offset > size_ || size > size_ - offset) return false;
  if (size > 0) std::memcpy(data, data_ + offset, size);
  return true;
}

DecodeStatus ReadFully(ByteStream& in, unsigned char* out, size_t size) {
  while (size > 0) {
    size_t produced = 0;
    const DecodeStatus status = in.Read(out, size, produced);
    if (status != DecodeStatus::kOk) return status;
    if (produced == 0) return DecodeStatus::kDamaged;
    out += produced;
    size -= produced;
  }
  return DecodeStatus::kOk;
}
