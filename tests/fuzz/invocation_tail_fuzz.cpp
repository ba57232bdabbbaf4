// The rule that passes the installer's own arguments on, against a model of it, on arbitrary
// command lines appended after fixed parts of every length: the rest after the program name goes
// in whole or not at all, a separating space is added only after a closing quote, the fixed part
// is never touched, and the buffer stays terminated within its capacity with its last unit intact.
#include <fuzzer/FuzzedDataProvider.h>

#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "launch/invocation_tail.h"

namespace {

bool IsBlank(wchar_t unit) { return unit == L' ' || unit == L'\t'; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const uint32_t fixed = in.ConsumeIntegralInRange<uint32_t>(0, CommandBuffer::capacity - 1);
  const std::vector<uint8_t> rest = in.ConsumeRemainingBytes<uint8_t>();
  const std::vector<wchar_t> units = DecodeUnits<wchar_t>(rest.data(), rest.size());
  const auto command_line = TerminatedCopy(units.data(), units.size());
  size_t length = 0;
  while (command_line[length] != 0) ++length;

  // The model: where the program name ends, whether a space must be inserted, what follows.
  std::vector<wchar_t> expected(fixed, L'f');
  size_t end = 0;
  bool tail = true;
  if (length > 0 && command_line[0] == L'"') {
    end = 1;
    while (end < length && command_line[end] != L'"') ++end;
    if (end == length) tail = false;  // never closed
    ++end;
  } else {
    while (end < length && !IsBlank(command_line[end])) ++end;
  }
  if (tail && end < length) {
    const size_t room = CommandBuffer::capacity - 1;  // units of text the buffer holds
    bool fits = true;
    if (!IsBlank(command_line[end])) {
      fits = expected.size() + 1 <= room;
      if (fits) expected.push_back(L' ');
    }
    if (fits && expected.size() + (length - end) <= room) {
      expected.insert(expected.end(), command_line.get() + end, command_line.get() + length);
    }
  }

  std::unique_ptr<CommandBuffer> command(new CommandBuffer);
  for (uint32_t i = 0; i < fixed; ++i) command->text[i] = L'f';
  command->text[fixed] = 0;
  AppendInvocationTail(*command, command_line.get());
  for (size_t i = 0; i < expected.size(); ++i) FUZZ_CHECK(command->text[i] == expected[i]);
  FUZZ_CHECK(command->text[expected.size()] == 0);
  FUZZ_CHECK(command->text[CommandBuffer::capacity] == 0);
  return 0;
}
