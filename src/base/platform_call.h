// Tests put fakes in place of the few platform calls whose faults cannot be produced for real,
// under Wine or on demand (a failing wait, an unreadable token, a deletion the platform accepts
// while the path stays openable). Each subsystem that makes such calls lists them in a table of
// function pointers of its own, a `*_calls.h` beside its code, which the product leaves all null.
#pragma once

// The function to call: the fake a test put in, else the platform's own.
template <typename Function>
Function PlatformCall(Function fake, Function real) {
  return fake != nullptr ? fake : real;
}
