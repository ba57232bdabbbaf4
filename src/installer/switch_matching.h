// Which of the installer's own switches its arguments hold: the release channel, the install
// scope, and the modes it refuses. Kept apart from the settings, which need Windows, so that the
// walk over the arguments builds and is checked without it; the comparison is handed in, and the
// installer hands in the platform's case-insensitive whole-string comparison.
#pragma once

#include <stdint.h>

// Registry ids of the release channels; the last component of the updater's client-state key.
inline constexpr wchar_t kDefaultAppId[] = L"{6642A25A-2BD8-484a-9040-5D965B0B55F0}";
inline constexpr wchar_t kBetaAppId[] = L"{5DA28246-F4B4-499B-9E56-3F878A628D6C}";
inline constexpr wchar_t kDevAppId[] = L"{28C2E411-B2C1-4FB3-8E6A-F9301909BD08}";
inline constexpr wchar_t kSxsAppId[] = L"{eccdc541-5d94-41ee-addb-6db5a1a2dd1d}";

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
