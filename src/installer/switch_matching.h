// Which of the installer's own switches its arguments hold: the release channel, the install
// scope, and the modes it refuses. Kept apart from the settings, which need Windows, so that the
// walk over the arguments builds and is checked without it; the comparison is handed in, and the
// installer hands in the platform's case-insensitive whole-string comparison.
#pragma once

#include <stdint.h>

#include "base/client_state_key.h"

struct SwitchChoices {
  const wchar_t* app_id;
  bool system_level;
  bool unsupported_switch;
};

// 0 when argument is the switch, compared whole.
using SwitchComparison = int (*)(const wchar_t* argument, const wchar_t* switch_text);

// Looks at argv[1] .. argv[argc - 1] (argv[0], the installer's own path, is never a switch) and
// applies to choices the first switch that each one matches: "--system-level", "--lumora-beta",
// "--lumora-dev", "--lumora-sxs", "--cleanup", "--lumora-frame", in that order. The last channel
// switch wins; no argument ever clears a flag.
void MatchSwitches(const wchar_t* const* argv, int32_t argc, SwitchComparison same,
                   SwitchChoices& choices);
