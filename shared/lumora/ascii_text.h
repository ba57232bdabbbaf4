// A text that programs of two kinds read: the stub, the sample setup program and the tests in
// UTF-16 (wchar_t), the packer in bytes (char). It is spelled once, in ASCII, and kept in both
// forms, so that neither side holds a copy that could drift from the other's.
#pragma once

#include <stddef.h>

template <size_t N>
struct AsciiText {
  char narrow[N];
  wchar_t wide[N];

  // text is ASCII: every byte below 0x80, so that each is the same character in both forms.
  constexpr AsciiText(const char (&text)[N]) : narrow(), wide() {
    for (size_t i = 0; i < N; ++i) {
      narrow[i] = text[i];
      wide[i] = static_cast<wchar_t>(text[i]);
    }
  }
};

// A unit with the ASCII capitals A to Z folded to lower case and nothing else changed: how names
// and keys are compared where Windows compares them without regard to a locale.
template <typename Unit>
constexpr Unit AsciiLower(Unit unit) {
  return unit >= 'A' && unit <= 'Z' ? static_cast<Unit>(unit | 0x20) : unit;
}
