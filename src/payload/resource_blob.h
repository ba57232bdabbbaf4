// A payload member as it lies in the mapped image. The bytes belong to the image, which stays
// mapped for the life of the process, so nothing here is ever copied or freed.
#pragma once

#include <stdint.h>

struct ResourceBlob {
  const uint8_t* data = nullptr;
  // 0 means nothing is recorded: an empty resource counts as absent.
  uint64_t size = 0;
};
