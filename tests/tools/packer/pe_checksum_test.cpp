// The streaming checksum equals the word-by-word reference however the bytes are split.
#include "pe/pe_checksum.h"

#include <gtest/gtest.h>

#include <vector>

#include "pack_fixture.h"

namespace {

// A file-like buffer whose checksum field (at the offset an "MZ" header at 0 names) is zero.
std::vector<uint8_t> FakeImage(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes = PatternBytes(size, seed);
  bytes[60] = 0x80;
  bytes[61] = bytes[62] = bytes[63] = 0;
  for (size_t i = 0; i < 4; ++i) bytes[0x80 + 24 + 64 + i] = 0;
  return bytes;
}

TEST(PeChecksum, MatchesReferenceForAnySplit) {
  for (size_t size : {size_t{256}, size_t{257}, size_t{4096}, size_t{100001}}) {
    const std::vector<uint8_t> image = FakeImage(size, static_cast<uint32_t>(size));
    for (size_t chunk : {size_t{1}, size_t{3}, size_t{64}, size_t{4095}, size}) {
      PeChecksum sum;
      for (size_t at = 0; at < image.size(); at += chunk) {
        sum.Add(image.data() + at, std::min(chunk, image.size() - at));
      }
      EXPECT_EQ(sum.Finish(), ReferenceChecksum(image)) << size << " in chunks of " << chunk;
    }
  }
}

TEST(PeChecksum, AllOnesFoldLikeTheReference) {
  // Sums that are multiples of 0xFFFF are where deferred and eager folding could part.
  std::vector<uint8_t> image(0x400, 0xFF);
  image[60] = 0x80;
  image[61] = image[62] = image[63] = 0;
  for (size_t i = 0; i < 4; ++i) image[0x80 + 24 + 64 + i] = 0;
  PeChecksum sum;
  sum.Add(image.data(), image.size());
  EXPECT_EQ(sum.Finish(), ReferenceChecksum(image));
}

}  // namespace
