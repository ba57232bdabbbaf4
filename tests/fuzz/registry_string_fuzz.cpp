// Termination of registry strings against a model: arbitrary data of every byte count that a
// query offered capacity * 2 bytes can return. Afterwards the text is terminated within the
// capacity and at most the one unit after the data was written; or the call refused, writing
// nothing, because the data filled the buffer. The buffer is a block of exactly its capacity.
#include <fuzzer/FuzzedDataProvider.h>

#include <memory>
#include <vector>

#include "base/registry_string.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const uint32_t capacity = in.ConsumeIntegralInRange<uint32_t>(1, 300);
  const uint32_t bytes = in.ConsumeIntegralInRange<uint32_t>(0, capacity * 2);
  std::unique_ptr<wchar_t[]> buffer(new wchar_t[capacity]);
  std::vector<wchar_t> model(capacity);
  for (uint32_t i = 0; i < capacity; ++i) {
    model[i] = in.remaining_bytes() > 0 ? in.ConsumeIntegral<uint16_t>() : L'x';
    buffer[i] = model[i];
  }

  const uint32_t units = bytes / 2;
  bool expected = true;
  if (units == 0) {
    model[0] = 0;
  } else if (model[units - 1] != 0) {
    if (units < capacity) {
      model[units] = 0;
    } else {
      expected = false;
    }
  }
  FUZZ_CHECK(TerminateRegistryString(buffer.get(), capacity, bytes) == expected);
  for (uint32_t i = 0; i < capacity; ++i) FUZZ_CHECK(buffer[i] == model[i]);
  if (expected) {
    uint32_t at = 0;
    while (at < capacity && buffer[at] != 0) ++at;
    FUZZ_CHECK(at < capacity && at <= units);
  }
  return 0;
}
