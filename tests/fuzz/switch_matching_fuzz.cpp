// The walk over the installer's arguments against its switch table, compared with a model of the
// rules: argv[0] is never looked at, the arguments are looked at in order, the first switch that an argument matches applies, the last
// channel switch wins, no argument clears a flag, anything appended to a switch matches nothing.
// The arguments are the input's lines.
//
// The comparison here folds ASCII letters only and compares whole strings. The installer uses
// lstrcmpiW, whose folding follows the user's locale beyond ASCII (and treats hyphens by word-sort
// rules); that part is the platform's and is not modelled here: a non-ASCII argument that
// lstrcmpiW would take for a switch is a case this harness cannot see.
#include <fuzzer/FuzzedDataProvider.h>

#include <memory>
#include <unordered_map>
#include <vector>

#include "fuzz_support.h"
#include "installer/switch_matching.h"

namespace {

wchar_t Fold(wchar_t unit) { return (unit >= L'A' && unit <= L'Z') ? unit + 32 : unit; }

int SameNoCase(const wchar_t* a, const wchar_t* b) {
  for (size_t i = 0;; ++i) {
    if (Fold(a[i]) != Fold(b[i])) return 1;
    if (a[i] == 0) return 0;
  }
}

// Where each argument stands in argv, and the last one compared.
std::unordered_map<const wchar_t*, size_t> g_index;
size_t g_last = 0;

// Fails the run when the walk compares anything but an argument after argv[0], or goes back.
int Compare(const wchar_t* argument, const wchar_t* switch_text) {
  const auto found = g_index.find(argument);
  FUZZ_CHECK(found != g_index.end() && found->second >= 1 && found->second >= g_last);
  g_last = found->second;
  return SameNoCase(argument, switch_text);
}

const wchar_t* const kAppIds[] = {kDefaultAppId, kBetaAppId, kDevAppId, kSxsAppId};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  SwitchChoices start = {kAppIds[in.ConsumeIntegralInRange(0, 3)], in.ConsumeBool(),
                         in.ConsumeBool()};
  const std::vector<uint8_t> rest = in.ConsumeRemainingBytes<uint8_t>();
  const std::vector<wchar_t> units = DecodeUnits<wchar_t>(rest.data(), rest.size());

  std::vector<std::unique_ptr<wchar_t[]>> arguments;
  size_t begin = 0;
  for (size_t i = 0; i <= units.size(); ++i) {
    if (i == units.size() || units[i] == L'\n') {
      arguments.push_back(TerminatedCopy(units.data() + begin, i - begin));
      begin = i + 1;
    }
  }
  std::vector<const wchar_t*> argv;
  for (const auto& argument : arguments) argv.push_back(argument.get());
  g_index.clear();
  for (size_t i = 0; i < argv.size(); ++i) g_index.emplace(argv[i], i);
  g_last = 0;

  SwitchChoices expected = start;
  for (size_t i = 1; i < argv.size(); ++i) {
    if (SameNoCase(argv[i], L"--system-level") == 0) expected.system_level = true;
    else if (SameNoCase(argv[i], L"--lumora-beta") == 0) expected.app_id = kBetaAppId;
    else if (SameNoCase(argv[i], L"--lumora-dev") == 0) expected.app_id = kDevAppId;
    else if (SameNoCase(argv[i], L"--lumora-sxs") == 0) expected.app_id = kSxsAppId;
    else if (SameNoCase(argv[i], L"--cleanup") == 0) expected.unsupported_switch = true;
    else if (SameNoCase(argv[i], L"--lumora-frame") == 0) expected.unsupported_switch = true;
  }

  SwitchChoices choices = start;
  MatchSwitches(argv.data(), static_cast<int32_t>(argv.size()), Compare, choices);
  FUZZ_CHECK(choices.app_id == expected.app_id);
  FUZZ_CHECK(choices.system_level == expected.system_level);
  FUZZ_CHECK(choices.unsupported_switch == expected.unsupported_switch);
  return 0;
}
