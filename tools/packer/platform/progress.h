// How far a long piece of work has come, told to whoever shows it (pack's progress on a terminal).
// The work calls Advance as it goes; it never waits on the one who watches.
#pragma once

#include <cstdint>

class Progress {
 public:
  virtual void Advance(uint64_t done, uint64_t total) = 0;

 protected:
  ~Progress() = default;
};
