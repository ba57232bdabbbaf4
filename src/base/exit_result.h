// The outcome of every fallible step of a run. The process exit code is `code`, one of the
// shared table in lumora/exit_codes.h or a setup program's own; `extra` carries the detail the
// updater reads back from the client state (a Windows error, a file-attribute word, or 0).
#pragma once

#include <stdint.h>

#include "lumora/exit_codes.h"

struct [[nodiscard]] ExitResult {
  uint32_t code = 0;
  uint32_t extra = 0;
};
static_assert(sizeof(ExitResult) == 8, "two unsigned 32-bit values");
