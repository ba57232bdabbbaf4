// Bounded strings against a reference model written from their contract: every operation on
// arbitrary text, capacities from 0 to 300 and destinations with or without a terminator. The
// model predicts the whole buffer afterwards, so the checks cover what is written and what is
// left alone: the terminator within the capacity, appends all or nothing, nothing read past a
// terminator or written past the capacity (each buffer is a block of exactly its size, which
// AddressSanitizer guards).
#include <fuzzer/FuzzedDataProvider.h>

#include <vector>

#include "base/bounded_string.h"
#include "base/freestanding_runtime.h"
#include "fuzz_support.h"

namespace {

using Text = std::vector<wchar_t>;

wchar_t Fold(wchar_t unit) { return (unit >= L'A' && unit <= L'Z') ? unit + 32 : unit; }

size_t LengthOf(const Text& text) {
  size_t n = 0;
  while (n < text.size() && text[n] != 0) ++n;
  return n;
}

// text with its terminator, as the operations read it.
Text Terminated(const Text& text) {
  Text out(text.begin(), text.begin() + LengthOf(text));
  out.push_back(0);
  return out;
}

uint32_t ModelLength(const Text& buffer, uint32_t capacity) {
  if (capacity < 2) return 0;
  for (uint32_t i = 0; i + 1 < capacity; ++i) {
    if (buffer[i] == 0) return i;
  }
  return capacity - 1;
}

bool ModelCopy(Text& buffer, uint32_t capacity, const Text& source) {
  if (capacity == 0) return false;
  for (uint32_t i = 0; i < capacity; ++i) {
    buffer[i] = source[i];
    if (source[i] == 0) return true;
  }
  buffer[0] = 0;
  return false;
}

bool ModelAppend(Text& buffer, uint32_t capacity, const Text& source) {
  const uint32_t length = ModelLength(buffer, capacity);
  if (capacity - length == 0) return false;
  for (uint32_t i = length; i < capacity; ++i) {
    buffer[i] = source[i - length];
    if (buffer[i] == 0) return true;
  }
  buffer[length] = 0;
  return false;
}

bool ModelEndsWith(const Text& text, const Text& suffix) {
  const size_t lt = LengthOf(text);
  const size_t ls = LengthOf(suffix);
  if (ls > lt) return false;
  for (size_t k = 0; k < ls; ++k) {
    if (Fold(text[lt - 1 - k]) != Fold(suffix[ls - 1 - k])) return false;
  }
  return true;
}

// Position of the leftmost match, or -1.
long ModelFind(const Text& haystack, const Text& needle) {
  const size_t lh = LengthOf(haystack);
  const size_t ln = LengthOf(needle);
  if (ln == 0) return 0;
  for (size_t p = 0; p + ln <= lh; ++p) {
    size_t k = 0;
    while (k < ln && Fold(haystack[p + k]) == Fold(needle[k])) ++k;
    if (k == ln) return static_cast<long>(p);
  }
  return -1;
}

void CheckSame(const wchar_t* buffer, const Text& model, uint32_t capacity) {
  for (uint32_t i = 0; i < capacity; ++i) FUZZ_CHECK(buffer[i] == model[i]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const int operation = in.ConsumeIntegralInRange(0, 8);
  const uint32_t capacity = in.ConsumeIntegralInRange<uint32_t>(0, 300);
  const uint32_t number = in.ConsumeIntegral<uint32_t>();
  const std::vector<uint8_t> rest = in.ConsumeRemainingBytes<uint8_t>();
  const Text units = DecodeUnits<wchar_t>(rest.data(), rest.size());

  // Two texts, split at the first line feed; each may hold a 0 unit of its own.
  size_t split = 0;
  while (split < units.size() && units[split] != L'\n') ++split;
  const Text a(units.begin(), units.begin() + split);
  const Text b(split < units.size() ? units.begin() + split + 1 : units.end(), units.end());
  const auto text_a = TerminatedCopy(a.data(), a.size());
  const auto text_b = TerminatedCopy(b.data(), b.size());
  Text model_a(a);
  model_a.push_back(0);
  Text model_b(b);
  model_b.push_back(0);

  // The destination: a's units as far as they fit, then 'x' without a terminator.
  std::unique_ptr<wchar_t[]> buffer(new wchar_t[capacity]);
  Text model(capacity);
  for (uint32_t i = 0; i < capacity; ++i) {
    model[i] = i < model_a.size() ? model_a[i] : L'x';
    buffer[i] = model[i];
  }

  switch (operation) {
    case 0: {
      const bool copied = CopyBounded(buffer.get(), capacity, text_b.get());
      FUZZ_CHECK(copied == ModelCopy(model, capacity, model_b));
      CheckSame(buffer.get(), model, capacity);
      if (capacity > 0) FUZZ_CHECK(ModelLength(model, capacity + 1) < capacity);
      break;
    }
    case 1: {
      const Text before = capacity > 0 ? Terminated(model) : Text();
      const bool appended = AppendBounded(buffer.get(), capacity, text_b.get());
      FUZZ_CHECK(appended == ModelAppend(model, capacity, model_b));
      CheckSame(buffer.get(), model, capacity);
      if (capacity > 0) {
        // A terminator within the capacity, and on failure the text reads as before, unless
        // the destination had none: then it is cut where the capacity ends.
        size_t at = 0;
        while (at < capacity && buffer[at] != 0) ++at;
        FUZZ_CHECK(at < capacity);
        if (!appended && before.size() <= capacity) FUZZ_CHECK(Terminated(model) == before);
      }
      break;
    }
    case 2:
      FUZZ_CHECK(LengthBounded(buffer.get(), capacity) == ModelLength(model, capacity));
      break;
    case 3:
      FUZZ_CHECK(EndsWithNoCase(text_a.get(), text_b.get()) == ModelEndsWith(model_a, model_b));
      break;
    case 4: {
      const wchar_t* found = FindNoCase(text_a.get(), text_b.get());
      const long expected = ModelFind(model_a, model_b);
      FUZZ_CHECK(expected < 0 ? found == nullptr : found == text_a.get() + expected);
      break;
    }
    case 5: {
      const uint32_t count = number % 160;
      std::vector<uint8_t> bytes(count);
      for (uint32_t i = 0; i < count; ++i) bytes[i] = i < rest.size() ? rest[i] : 0;
      const bool written = ToHexUpper(bytes.data(), count, buffer.get(), capacity);
      FUZZ_CHECK(written == (capacity > 2 * count));
      if (written) {
        static const wchar_t kDigits[] = L"0123456789ABCDEF";
        for (uint32_t i = 0; i < count; ++i) {
          model[2 * i] = kDigits[bytes[i] >> 4];
          model[2 * i + 1] = kDigits[bytes[i] & 15];
        }
        model[2 * count] = 0;
      }
      CheckSame(buffer.get(), model, capacity);
      break;
    }
    case 6: {
      const uint32_t length = static_cast<uint32_t>(number % (LengthOf(model_a) + 1));
      uint32_t expected = 0;
      for (uint32_t i = 0; i < length; ++i) {
        if (model_a[i] == L'\\') expected = i + 1;
      }
      FUZZ_CHECK(FileNamePart(text_a.get(), length) == text_a.get() + expected);
      break;
    }
    case 7: {
      FillBytes(buffer.get(), static_cast<int>(number), capacity * sizeof(wchar_t));
      const uint8_t* bytes = reinterpret_cast<const uint8_t*>(buffer.get());
      for (size_t i = 0; i < capacity * sizeof(wchar_t); ++i) FUZZ_CHECK(bytes[i] == (number & 0xFF));
      break;
    }
    case 8: {
      // A copy from later inside the same buffer shifts the text towards the front.
      if (capacity == 0) break;
      const uint32_t length = ModelLength(model, capacity);
      if (model[length] != 0) break;  // no terminated text to shift
      const uint32_t from = number % (length + 1);
      FUZZ_CHECK(CopyBounded(buffer.get(), capacity, buffer.get() + from));
      for (uint32_t i = 0; i + from <= length; ++i) model[i] = model[i + from];
      CheckSame(buffer.get(), model, capacity);
      break;
    }
  }
  return 0;
}
