// The rule that decides which resource names may become file names in the work directory.
#include "lumora/member_name.h"
#include "lumora/payload_rules.h"

#include <gtest/gtest.h>

namespace {

struct NameCase {
  const wchar_t* name;
  bool plain;
};

TEST(MemberName, PlainFileNames) {
  const NameCase cases[] = {
      // What packers and resource compilers write.
      {L"LUMORA.PACKED.7Z", true},
      {L"SETUP.EX_", true},
      {L"setup-1.2_3.patch", true},
      {L"lumora", true},
      // Leaving the work directory, or naming something other than a plain file in it.
      {L"LUMORA\\..\\..\\VICTIM.TXT", false},
      {L"LUMORA/../VICTIM.TXT", false},
      {L"LUMORA..7Z", false},
      {L"LUMORA.7Z:stream", false},
      {L"LUMORA.7Z::$DATA", false},
      {L"C:LUMORA", false},
      // Windows drops trailing dots and spaces, so these name another member's file.
      {L"SETUP.EXE.", false},
      {L"LUMORA.", false},
      {L"SETUP.EXE ", false},
      // Everything outside the allowed ASCII set, wildcards and short-name tildes included.
      {L"LUMORA*", false},
      {L"LUMORA?", false},
      {L"SETUP~1.EXE", false},
      {L"LUMORA\x00C4.7Z", false},
      {L"LUMORA\x0130", false},
      {L"LUMORA\t", false},
      {L"", false},
  };
  for (const NameCase& c : cases) {
    EXPECT_EQ(IsPlainFileName(c.name), c.plain) << testing::PrintToString(std::wstring(c.name));
  }
  EXPECT_FALSE(IsPlainFileName<wchar_t>(nullptr));
}

TEST(MemberName, SetupExeInAnyCase) {
  EXPECT_TRUE(IsSetupExeName(L"setup.exe"));
  EXPECT_TRUE(IsSetupExeName(L"SETUP.EXE"));
  EXPECT_TRUE(IsSetupExeName(L"Setup.Exe"));
  EXPECT_FALSE(IsSetupExeName(L"setup.ex"));
  EXPECT_FALSE(IsSetupExeName(L"setup.exe2"));
  EXPECT_FALSE(IsSetupExeName(L"SETUP.EX_"));
  EXPECT_FALSE(IsSetupExeName<wchar_t>(nullptr));
}

TEST(MemberName, ByStorage) {
  struct Case {
    NamedMember member;
    const wchar_t* name;
    bool usable;
  };
  const Case cases[] = {
      {NamedMember::kArchive, L"LUMORA.PACKED.7Z", true},
      {NamedMember::kArchive, L"LUMORA\\..\\X", false},
      // A patch must not be the file the patch program writes.
      {NamedMember::kSetupPatch, L"SETUP.PATCH", true},
      {NamedMember::kSetupPatch, L"SETUP.EXE", false},
      {NamedMember::kSetupPatch, L"setup.exe", false},
      {NamedMember::kSetupPatch, L"SETUP.EXE.", false},
      // A cabinet of that name keeps failing at its expansion instead.
      {NamedMember::kSetupCabinet, L"SETUP.EXE", true},
      {NamedMember::kSetupCabinet, L"SETUP:EX_", false},
      // An uncompressed setup program is written as "setup.exe" whatever its name.
      {NamedMember::kSetupPlain, L"SETUP\\..\\..\\X", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsUsableMemberName(c.member, c.name), c.usable)
        << testing::PrintToString(std::wstring(c.name));
  }
}

// The packer judges its names with char16_t text through the same templates.
static_assert(IsPlainFileName(u"LUMORA.PACKED.7Z"));
static_assert(!IsPlainFileName(u"SETUP.EXE."));
static_assert(IsSetupExeName(u"SETUP.EXE"));

}  // namespace

namespace {

// The prefix test of the scan (lumora/payload_rules.h): only A to Z fold, in both instantiations.
TEST(MemberPrefix, FoldsExactlyAToZ) {
  for (uint32_t unit = 1; unit < 0x180; ++unit) {
    const wchar_t wide[] = {static_cast<wchar_t>(unit), L'b', 0};
    const char16_t utf16[] = {static_cast<char16_t>(unit), u'b', 0};
    const bool matches = unit == 'a' || unit == 'A';
    EXPECT_EQ(StartsWithAsciiNoCase(wide, "ab"), matches) << unit;
    EXPECT_EQ(StartsWithAsciiNoCase(utf16, "ab"), matches) << unit;
  }
  EXPECT_TRUE(StartsWithAsciiNoCase(L"SETUP.EX_", "setup"));
  EXPECT_TRUE(StartsWithAsciiNoCase(L"anything", ""));
  EXPECT_FALSE(StartsWithAsciiNoCase(L"set", "setup")) << "the text's terminator differs";
}

}  // namespace
