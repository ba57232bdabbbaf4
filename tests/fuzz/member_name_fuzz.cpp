// The rule for member names that become file names, against a model, in both instantiations the
// code uses (the stub's 16-bit wchar_t and the packer's char16_t): on arbitrary 16-bit names, for
// each kind of member.
#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "lumora/member_name.h"

namespace {

bool ModelPlain(const std::vector<char16_t>& name) {
  if (name.empty()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const char16_t c = name[i];
    const bool allowed = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                         (c >= u'0' && c <= u'9') || c == u'.' || c == u'_' || c == u'-';
    if (!allowed) return false;
    if (c == u'.' && i > 0 && name[i - 1] == u'.') return false;
  }
  return name.back() != u'.';
}

bool ModelSetupExe(const std::vector<char16_t>& name) {
  static const char16_t kSetupExe[] = u"setup.exe";
  if (name.size() != 9) return false;
  for (size_t i = 0; i < 9; ++i) {
    const char16_t c = name[i];
    const char16_t folded = (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    if (folded != kSetupExe[i]) return false;
  }
  return true;
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
