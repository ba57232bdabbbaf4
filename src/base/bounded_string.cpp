#include "base/bounded_string.h"

namespace {

wchar_t FoldAscii(wchar_t unit) {
  return (unit >= L'A' && unit <= L'Z') ? static_cast<wchar_t>(unit | 0x20) : unit;
}

}  // namespace

bool CopyBounded(wchar_t* destination, uint32_t capacity, const wchar_t* source) {
  if (destination == nullptr || capacity == 0) return false;
  for (uint32_t i = 0; i < capacity; ++i) {
    const wchar_t unit = source[i];
    destination[i] = unit;
    if (unit == 0) return true;
  }
  destination[0] = 0;
  return false;
}

bool AppendBounded(wchar_t* destination, uint32_t capacity, const wchar_t* source) {
  const uint32_t length = LengthBounded(destination, capacity);
  if (destination == nullptr || capacity - length == 0) return false;
  for (uint32_t i = length; i < capacity; ++i) {
    const wchar_t unit = source[i - length];
    destination[i] = unit;
    if (unit == 0) return true;
  }
  destination[length] = 0;
  return false;
}

uint32_t LengthBounded(const wchar_t* text, uint32_t capacity) {
  if (text == nullptr || capacity < 2) return 0;
  for (uint32_t i = 0; i + 1 < capacity; ++i) {
    if (text[i] == 0) return i;
  }
  return capacity - 1;
}

bool EndsWithNoCase(const wchar_t* text, const wchar_t* suffix) {
  if (text == nullptr || suffix == nullptr) return false;
  size_t text_length = 0;
  while (text[text_length] != 0) ++text_length;
  size_t suffix_length = 0;
  while (suffix[suffix_length] != 0) ++suffix_length;
  if (suffix_length > text_length) return false;
  for (size_t k = 0; k < suffix_length; ++k) {
    if (FoldAscii(text[text_length - 1 - k]) != FoldAscii(suffix[suffix_length - 1 - k])) {
      return false;
    }
  }
  return true;
}

const wchar_t* FindNoCase(const wchar_t* haystack, const wchar_t* needle) {
  if (needle == nullptr || needle[0] == 0) return haystack;
  if (haystack == nullptr) return nullptr;
  for (const wchar_t* start = haystack; *start != 0; ++start) {
    size_t k = 0;
    while (needle[k] != 0 && FoldAscii(start[k]) == FoldAscii(needle[k])) ++k;
    // A haystack terminator met early differs from the needle unit there, so it ends the loop too.
    if (needle[k] == 0) return start;
  }
  return nullptr;
}

bool ToHexUpper(const uint8_t* bytes, uint32_t count, wchar_t* destination, uint32_t capacity) {
  static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  if (destination == nullptr || capacity <= 2ull * count) return false;
  destination[2ull * count] = 0;
  for (uint32_t i = 0; i < count; ++i) {
    destination[2 * i] = kDigits[bytes[i] >> 4];
    destination[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  return true;
}

const wchar_t* FileNamePart(const wchar_t* path, uint32_t length) {
  const wchar_t* name = path;
  for (uint32_t i = 0; i < length; ++i) {
    if (path[i] == L'\\') name = path + i + 1;
  }
  return name;
}

wchar_t* FileNamePart(wchar_t* path, uint32_t length) {
  return const_cast<wchar_t*>(FileNamePart(static_cast<const wchar_t*>(path), length));
}
