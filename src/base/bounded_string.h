// Fixed-capacity UTF-16 text. The stub links no runtime and allocates no memory for text: every
// path, command line and registry value lives in a buffer of the frame or object that uses it.
// The operations take a buffer's first unit and its capacity (terminator included) separately, so
// one routine serves every capacity and a position inside a buffer with the room left from there.
// An operation that cannot fit its result reports false; none of them truncates, and none touches
// the thread's last error.
#pragma once

#include <stddef.h>
#include <stdint.h>

template <uint32_t N>
struct BoundedString {
  static constexpr uint32_t capacity = N;
  // Units 0 .. N-1 hold text and terminator; unit N is a terminator that nothing ever writes, so a
  // platform call that is handed N units can never leave the buffer unterminated.
  wchar_t text[N + 1];
  BoundedString() {
    text[0] = 0;
    text[N] = 0;
  }
  BoundedString(const BoundedString&) = delete;
  BoundedString& operator=(const BoundedString&) = delete;
};

// The units of a literal text, without its terminator.
template <size_t N>
constexpr uint32_t TextLength(const wchar_t (&)[N]) {
  return static_cast<uint32_t>(N - 1);
}

using PathBuffer = BoundedString<260>;
using CommandBuffer = BoundedString<1040>;

// Copies source, terminator included, into destination. On overflow the destination reads empty.
// Copies front to back, reading each unit before writing it, so a source that starts later inside
// the destination shifts the text towards the front.
bool CopyBounded(wchar_t* destination, uint32_t capacity, const wchar_t* source);

// Appends source whole or not at all: on overflow the destination reads as before.
bool AppendBounded(wchar_t* destination, uint32_t capacity, const wchar_t* source);

// Units before the terminator, looking at units 0 .. capacity-2 only; at most capacity-1.
uint32_t LengthBounded(const wchar_t* text, uint32_t capacity);

// ASCII-only case folding (A-Z to a-z); every other unit compares as it stands. (A payload name's
// prefix is judged by the shared rule, StartsWithAsciiNoCase in lumora/payload_rules.h.)
bool EndsWithNoCase(const wchar_t* text, const wchar_t* suffix);
// The leftmost match, or null when there is none. A null or empty needle matches at the start.
const wchar_t* FindNoCase(const wchar_t* haystack, const wchar_t* needle);

// Upper-case hexadecimal digits of count bytes plus a terminator; needs capacity > 2 * count.
bool ToHexUpper(const uint8_t* bytes, uint32_t count, wchar_t* destination, uint32_t capacity);

// The position just after the last backslash among the first length units, or the start.
const wchar_t* FileNamePart(const wchar_t* path, uint32_t length);
wchar_t* FileNamePart(wchar_t* path, uint32_t length);
