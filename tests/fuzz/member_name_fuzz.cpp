// The rules for member names, against models, in both instantiations the code uses (the stub's
// 16-bit wchar_t and the packer's char16_t): on arbitrary 16-bit names, the rule for names that
// become file names, for each kind of member, and the scan's classification of a name (its prefix
// with only A to Z folded, a second member, the name buffer).
#include <algorithm>
#include <cctype>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "lumora/member_name.h"
#include "lumora/payload_rules.h"

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

// The scan's verdict on one name: the member it is recorded as (0 archive, 1 setup program), or
// the error that stops the scan.
uint32_t ModelClassify(const std::vector<char16_t>& name, bool archive_recorded,
                       bool setup_recorded, int& member) {
  std::string folded;
  for (char16_t c : name) {
    folded += c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c < 0x80 ? static_cast<char>(c) : '?';
  }
  if (folded.rfind("lumora", 0) == 0) {
    member = 0;
  } else if (folded.rfind("setup", 0) == 0) {
    member = 1;
  } else {
    return 13;
  }
  if (member == 0 ? archive_recorded : setup_recorded) return 68;
  return name.size() >= 260 ? 206 : 0;
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
  // What the scan has recorded so far, taken from the name's length.
  const bool archive_recorded = (length & 1) != 0, setup_recorded = (length & 2) != 0;
  int expected_member = -1;
  const uint32_t expected = ModelClassify(units, archive_recorded, setup_recorded, expected_member);
  PayloadMember member = PayloadMember::kArchive;
  FUZZ_CHECK(ClassifyMemberName(name.get(), archive_recorded, setup_recorded, member) == expected);
  if (expected != 13) FUZZ_CHECK(static_cast<int>(member) == expected_member);
  FUZZ_CHECK(ClassifyMemberName(name16.get(), archive_recorded, setup_recorded, member) == expected);
  if (expected != 13) FUZZ_CHECK(static_cast<int>(member) == expected_member);
  return 0;
}
