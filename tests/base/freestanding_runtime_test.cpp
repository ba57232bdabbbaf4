// The loop behind the stub's memset.
#include "base/freestanding_runtime.h"

#include <gtest/gtest.h>

#include <string.h>

namespace {

TEST(FillBytes, WritesLowEightBitsAndNoMore) {
  uint8_t bytes[8] = {1, 1, 1, 1, 1, 1, 1, 1};
  EXPECT_EQ(FillBytes(bytes + 1, 511, 6), bytes + 1);
  const uint8_t expected[8] = {1, 255, 255, 255, 255, 255, 255, 1};
  EXPECT_EQ(memcmp(bytes, expected, 8), 0);
  FillBytes(bytes, 0, 0);
  EXPECT_EQ(bytes[0], 1);
}

}  // namespace
