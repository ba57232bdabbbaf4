// The rule for member names that become file names, against a model, in both instantiations the
// code uses (the stub's 16-bit wchar_t and the packer's char16_t): on arbitrary 16-bit names, for
// each kind of member.
#include <algorithm>
#include <cctype>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "payload/member_name.h"

namespace {

// The rule stated as what a plain name looks like rather than walked unit by unit as the code
// walks it: runs of letters, digits, '_' and '-', joined by single dots, perhaps after one leading
// dot. Anything outside ASCII cannot match.
bool ModelPlain(const std::vector<char16_t>& name) {
  if (std::any_of(name.begin(), name.end(), [](char16_t c) { return c == 0 || c >= 0x80; })) {
    return false;
  }
  static const std::regex kPlain(R"(\.?([A-Za-z0-9_-]+\.)*[A-Za-z0-9_-]+)");
  return std::regex_match(std::string(name.begin(), name.end()), kPlain);
}

// "setup.exe" compared after folding the whole name to lower case with the C library.
bool ModelSetupExe(const std::vector<char16_t>& name) {
  if (std::any_of(name.begin(), name.end(), [](char16_t c) { return c == 0 || c >= 0x80; })) {
    return false;
  }
  std::string lower(name.begin(), name.end());
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
  return lower == "setup.exe";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<char16_t> units = DecodeUnits<char16_t>(data, size);
  size_t length = 0;
  while (length < units.size() && units[length] != 0) ++length;
  units.resize(length);  // the name is what a reader sees up to its terminator
  const auto name16 = TerminatedCopy(units.data(), units.size());
  std::vector<wchar_t> wide(units.begin(), units.end());
  const auto name = TerminatedCopy(wide.data(), wide.size());

  const bool plain = ModelPlain(units);
  const bool setup_exe = ModelSetupExe(units);
  FUZZ_CHECK(IsPlainFileName(name.get()) == plain && IsPlainFileName(name16.get()) == plain);
  FUZZ_CHECK(IsSetupExeName(name.get()) == setup_exe && IsSetupExeName(name16.get()) == setup_exe);
  const struct {
    NamedMember member;
    bool usable;
  } kinds[] = {
      {NamedMember::kArchive, plain},
      {NamedMember::kSetupPatch, plain && !setup_exe},
      {NamedMember::kSetupCabinet, plain},
      {NamedMember::kSetupPlain, true},
  };
  for (const auto& kind : kinds) {
    FUZZ_CHECK(IsUsableMemberName(kind.member, name.get()) == kind.usable);
    FUZZ_CHECK(IsUsableMemberName(kind.member, name16.get()) == kind.usable);
  }
  return 0;
}
