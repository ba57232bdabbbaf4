// What the fuzzing harnesses share: a check that stops the run with a report, and the reading of
// an input as 16-bit text.
//
// Harnesses of the stub's code are compiled with -fshort-wchar, so that wchar_t is 16 bits as on
// Windows. That is sound only for code that calls no C library wide-character function and uses
// no std::wstring (both built for Linux's 32-bit wchar_t): neither the stub's fuzzed files nor
// these harnesses do; text is kept in std::vector<wchar_t>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#define FUZZ_CHECK(condition)                                                       \
  do {                                                                              \
    if (!(condition)) {                                                             \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

// Reads bytes as UTF-8, leniently, so that text seeds stay readable and any 16-bit unit can be
// reached: one to three bytes give one unit (three bytes reach the surrogates too), four bytes a
// surrogate pair, and a byte that starts no sequence gives 0xDC00 plus the byte.
template <typename Unit>
std::vector<Unit> DecodeUnits(const uint8_t* data, size_t size) {
  std::vector<Unit> units;
  size_t i = 0;
  auto continuation = [&](size_t at) { return at < size && (data[at] & 0xC0) == 0x80; };
  while (i < size) {
    const uint8_t b = data[i];
    if (b < 0x80) {
      units.push_back(static_cast<Unit>(b));
      i += 1;
    } else if ((b & 0xE0) == 0xC0 && continuation(i + 1)) {
      units.push_back(static_cast<Unit>(((b & 0x1F) << 6) | (data[i + 1] & 0x3F)));
      i += 2;
    } else if ((b & 0xF0) == 0xE0 && continuation(i + 1) && continuation(i + 2)) {
      units.push_back(static_cast<Unit>(((b & 0x0F) << 12) | ((data[i + 1] & 0x3F) << 6) |
                                        (data[i + 2] & 0x3F)));
      i += 3;
    } else if ((b & 0xF8) == 0xF0 && continuation(i + 1) && continuation(i + 2) &&
               continuation(i + 3)) {
      const uint32_t point = ((b & 0x07u) << 18) | ((data[i + 1] & 0x3Fu) << 12) |
                             ((data[i + 2] & 0x3Fu) << 6) | (data[i + 3] & 0x3Fu);
      const uint32_t above = (point - 0x10000u) & 0xFFFFFu;
      units.push_back(static_cast<Unit>(0xD800u + (above >> 10)));
      units.push_back(static_cast<Unit>(0xDC00u + (above & 0x3FFu)));
      i += 4;
    } else {
      units.push_back(static_cast<Unit>(0xDC00u + b));
      i += 1;
    }
  }
  return units;
}

// A terminated copy of units in a block of exactly that size, so that AddressSanitizer reports a
// read past the terminator.
template <typename Unit>
std::unique_ptr<Unit[]> TerminatedCopy(const Unit* units, size_t count) {
  std::unique_ptr<Unit[]> text(new Unit[count + 1]);
  for (size_t i = 0; i < count; ++i) text[i] = units[i];
  text[count] = 0;
  return text;
}
