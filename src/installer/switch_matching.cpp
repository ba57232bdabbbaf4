#include "installer/switch_matching.h"

namespace {

enum class SwitchEffect { kSystemLevel, kChannel, kUnsupported };

struct SwitchRule {
  const wchar_t* text;
  SwitchEffect effect;
  const wchar_t* app_id;  // for kChannel
};

// Checked in this order; the first match applies.
constexpr SwitchRule kSwitches[] = {
    {L"--system-level", SwitchEffect::kSystemLevel, nullptr},
    {L"--lumora-beta", SwitchEffect::kChannel, kBetaAppId},
    {L"--lumora-dev", SwitchEffect::kChannel, kDevAppId},
    {L"--lumora-sxs", SwitchEffect::kChannel, kSxsAppId},
    {L"--cleanup", SwitchEffect::kUnsupported, nullptr},
    {L"--lumora-frame", SwitchEffect::kUnsupported, nullptr},
};

}  // namespace

void MatchSwitches(const wchar_t* const* argv, int32_t argc, SwitchComparison same,
                   SwitchChoices& choices) {
  for (int32_t i = 1; i < argc; ++i) {
    for (const SwitchRule& rule : kSwitches) {
      if (same(argv[i], rule.text) != 0) continue;
      switch (rule.effect) {
        case SwitchEffect::kSystemLevel: choices.system_level = true; break;
        case SwitchEffect::kChannel: choices.app_id = rule.app_id; break;
        case SwitchEffect::kUnsupported: choices.unsupported_switch = true; break;
      }
      break;
    }
  }
}
