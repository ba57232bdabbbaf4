#include "platform/byte_source.h"

#include <cstring>

bool MemorySource::ReadAt(uint64_t offset, void* buffer, size_t size, std::string& error) const {
  if (offset > bytes_.size() || size > bytes_.size() - offset) {
    error = name_ + " ends before " + std::to_string(offset + size) + " bytes";
    return false;
  }
  if (size != 0) std::memcpy(buffer, bytes_.data() + offset, size);
  return true;
}
