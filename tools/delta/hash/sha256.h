// SHA-256, written here so that the patch archive's digests come out the same on Linux and on
// Windows without a platform library: the packer records them and the setup program checks every
// base and every result against them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace delta {

using Sha256Digest = std::array<uint8_t, 32>;

class Sha256 {
 public:
  Sha256();
  void Add(const void* data, size_t size);
  // The digest of everything added; the object must not be used afterwards.
  Sha256Digest Finish();

 private:
  uint32_t state_[8];
  uint8_t block_[64];
  size_t block_used_ = 0;
  uint64_t total_bytes_ = 0;
};

Sha256Digest Sha256Of(const void* data, size_t size);

// Sha256 uses the processor's SHA extensions where it has them; tests call this with true to run
// the portable code instead and compare the two.
void UsePortableSha256Only(bool portable_only);

// Lower-case hexadecimal, as sha256sum prints it.
std::string HexOf(const Sha256Digest& digest);

}  // namespace delta
