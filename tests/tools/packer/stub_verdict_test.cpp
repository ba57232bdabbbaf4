// The stub's reading of a payload layout, as check and the packer's guards apply it: the shared
// rules in the stub's order, then what the stub does with what it wrote.
#include "payload/stub_verdict.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/hostile_names.h"
#include "platform/utf_text.h"

namespace {

constexpr PayloadType B7 = PayloadType::kPacked;
constexpr PayloadType BL = PayloadType::kCabinet;
constexpr PayloadType BN = PayloadType::kPlain;

PayloadEntry Named(const std::u16string& name, uint32_t size = 10) {
  PayloadEntry e;
  e.resource.name = ResourceKey::Name(name);
  e.resource.size = size;
  e.resource.mapped = true;
  return e;
}

PayloadEntry With(PayloadEntry e, MappedBytes loaded) {
  e.resource.loaded = loaded;
  return e;
}

PayloadEntry Languages(PayloadEntry e, uint32_t count) {
  e.languages = count;
  return e;
}

PayloadEntry Identifier() {
  PayloadEntry e;
  e.resource.name = ResourceKey::Id(1);
  e.resource.size = 10;
  e.resource.mapped = true;
  return e;
}

// Resource data for the judgements that read members: each resource's bytes by its size.
class NoData final : public ResourceData {
 public:
  bool Read(const Resource&, uint64_t, uint8_t*, size_t, std::string& error) const override {
    error = "no data";
    return false;
  }
};

PayloadVerdict Judge(const std::vector<ScannedType>& layout,
                     const PreviousVersionFacts& version = {}) {
  return JudgePayload(layout, version, NoData(), /*read_members=*/false);
}

struct Case {
  const char* what;
  std::vector<ScannedType> layout;
  uint32_t code, extra;
  bool archive_found, setup_found;
  bool folder_bound = false;  // code 0, and it works from short installer folders alone
};

TEST(JudgePayload, FollowsTheStubsScanAndWrites) {
  const std::u16string n243 = u"lumora" + std::u16string(237, u'x');
  const std::u16string n244 = n243 + u"x";
  const std::u16string n259 = u"lumora" + std::u16string(253, u'x');
  const std::u16string n260 = n259 + u"x";
  const PayloadEntry findable_not = [] {
    PayloadEntry e = Named(u"lumora");
    e.findable = false;
    return e;
  }();
  const Case cases[] = {
      {"shipped layout", {{B7, {Named(u"LUMORA.PACKED.7Z")}}, {BL, {Named(u"SETUP.EX_")}}}, 0, 0,
       true, true},
      {"bare prefixes, mixed case", {{BN, {Named(u"LuMoRa"), Named(u"sEtUp")}}}, 0, 0, true, true},
      // A name becomes a path beside a work directory of at least 16 units.
      {"243 units: from a drive's root alone", {{B7, {Named(n243)}}, {BN, {Named(u"SETUP")}}}, 0,
       0, true, true, true},
      {"244 units", {{B7, {Named(n244)}}, {BN, {Named(u"SETUP")}}}, 108, 0, true, true},
      {"259 units", {{B7, {Named(n259)}}, {BN, {Named(u"SETUP")}}}, 108, 0, true, true},
      {"setup patch of 244 units",
       {{B7, {Named(u"LUMORA"), Named(u"SETUP" + n244.substr(6) + u"x")}}}, 108, 0, true, true},
      {"uncompressed setup of 259 units is written as setup.exe",
       {{B7, {Named(u"LUMORA")}}, {BN, {Named(u"SETUP" + n259.substr(5))}}}, 0, 0, true, true},
      {"archive name judged before a missing setup", {{B7, {Named(u"LUMORA:S")}}}, 115, 2, true,
       false},
      // The bytes the loader maps: beyond the image, the writes fail (as seen under Wine).
      {"archive beyond the image",
       {{B7, {With(Named(u"LUMORA"), MappedBytes::kUnmapped)}}, {BL, {Named(u"SETUP.EX_")}}},
       112, 1784, true, true},
      {"setup beyond the image",
       {{B7, {Named(u"LUMORA")}}, {BL, {With(Named(u"SETUP.EX_"), MappedBytes::kUnmapped)}}}, 116,
       1784, true, true},
      {"the archive's path before the setup program's bytes",
       {{B7, {Named(n244)}}, {BL, {With(Named(u"SETUP.EX_"), MappedBytes::kUnmapped)}}}, 108, 0,
       true, true},
      {"unknown name in B7", {{B7, {Named(u"APP.7Z")}}}, 112, 13, false, false},
      {"unknown name after the archive", {{B7, {Named(u"LUMORA")}}, {BL, {Named(u"X")}}}, 115,
       13, true, false},
      {"unknown name in the archive's own type", {{B7, {Named(u"LUMORA"), Named(u"X")}}}, 112, 13,
       false, false},
      {"prefix not at the start", {{B7, {Named(u"XLUMORA")}}}, 112, 13, false, false},
      {"part of the prefix", {{B7, {Named(u"LUMOR")}}}, 112, 13, false, false},
      {"non-ASCII case pair", {{B7, {Named(u"LUMORA")}}, {BN, {Named(u"\u017Fetup")}}}, 115, 13,
       true, false},
      {"archives in B7 and BN", {{B7, {Named(u"LUMORA.A")}}, {BN, {Named(u"LUMORA.B")}}}, 115, 68,
       true, false},
      {"two archives in B7", {{B7, {Named(u"LUMORA.A"), Named(u"LUMORA.B")}}}, 112, 68, false,
       false},
      {"two setups in one type",
       {{B7, {Named(u"LUMORA")}}, {BN, {Named(u"SETUP.A"), Named(u"SETUP.B")}}}, 115, 68, true,
       false},
      {"a second member before a long name", {{B7, {Named(u"LUMORA"), Named(n260)}}}, 112, 68,
       false, false},
      {"260 units", {{B7, {Named(n260)}}}, 112, 206, false, false},
      {"no setup", {{B7, {Named(u"LUMORA")}}}, 115, 2, true, false},
      {"no archive", {{BL, {Named(u"SETUP.EX_")}}}, 112, 2, false, true},
      {"identifiers end a type quietly", {{B7, {Named(u"LUMORA")}}, {BL, {Identifier()}}}, 115, 2,
       true, false},
      {"an empty resource is absent and ends its type",
       {{B7, {Named(u"LUMORA", 0), Named(u"SETUP")}}}, 112, 2, false, false},
      {"a name Windows cannot find again ends its type",
       {{B7, {findable_not}}, {BN, {Named(u"SETUP")}}}, 112, 2, false, true},
      {"cabinet named setup.exe", {{B7, {Named(u"LUMORA")}}, {BL, {Named(u"SETUP.EXE")}}}, 115, 0,
       true, true},
      {"a setup program alone", {{BN, {Named(u"SETUP")}}}, 112, 2, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const PayloadVerdict v = Judge(c.layout);
    EXPECT_EQ(v.code, c.code) << v.reason;
    EXPECT_EQ(v.extra, c.extra) << v.reason;
    EXPECT_EQ(v.outcome, c.folder_bound ? PayloadVerdict::Outcome::kDepends
                         : c.code == 0  ? PayloadVerdict::Outcome::kSetupRuns
                                        : PayloadVerdict::Outcome::kStubExits);
    EXPECT_EQ(v.archive_found, c.archive_found);
    EXPECT_EQ(v.setup_found, c.setup_found);
    if (c.code != 0) EXPECT_FALSE(v.reason.empty());
  }
}

TEST(JudgePayload, TypesAreRecordedByTheWalkThatFoundTheMember) {
  const PayloadVerdict shipped = Judge({{B7, {Named(u"LUMORA")}}, {BL, {Named(u"SETUP.EX_")}}});
  EXPECT_EQ(shipped.archive_type, B7);
  EXPECT_EQ(shipped.setup_type, BL);
  const PayloadVerdict plain = Judge({{BL, {Named(u"LUMORA")}}, {BN, {Named(u"SETUP")}}});
  EXPECT_EQ(plain.archive_type, BL);
  EXPECT_EQ(plain.setup_type, BN);
}

// Which language of a name the stub reads depends on the machine: from the first such name the
// scan reaches on, check cannot say what the stub does.
TEST(JudgePayload, NamesInSeveralLanguagesLeaveTheVerdictToTheMachine) {
  struct LanguageCase {
    const char* what;
    std::vector<ScannedType> layout;
    PreviousVersionFacts version;
    PayloadVerdict::Outcome outcome;
    uint32_t code;
  };
  PreviousVersionFacts two_versions;
  two_versions.present = true;
  two_versions.text = u"1.0";
  two_versions.languages = 2;
  const LanguageCase cases[] = {
      {"the cabinet in two languages",
       {{B7, {Named(u"LUMORA")}}, {BL, {Languages(Named(u"SETUP.EX_"), 2)}}}, {},
       PayloadVerdict::Outcome::kDepends, 0},
      {"the archive in three languages", {{B7, {Languages(Named(u"LUMORA"), 3)}}}, {},
       PayloadVerdict::Outcome::kDepends, 0},
      // The scan stops at the unknown name before it reaches the ambiguous one.
      {"an error before the ambiguous name",
       {{B7, {Named(u"README")}}, {BL, {Languages(Named(u"SETUP.EX_"), 2)}}}, {},
       PayloadVerdict::Outcome::kStubExits, 112},
      {"the previous version in two languages",
       {{B7, {Named(u"LUMORA")}}, {BN, {Named(u"SETUP")}}}, two_versions,
       PayloadVerdict::Outcome::kDepends, 0},
      {"the previous version after a payload error", {{B7, {Named(u"LUMORA")}}}, two_versions,
       PayloadVerdict::Outcome::kStubExits, 115},
  };
  for (const LanguageCase& c : cases) {
    SCOPED_TRACE(c.what);
    const PayloadVerdict v = Judge(c.layout, c.version);
    EXPECT_EQ(v.outcome, c.outcome) << v.reason;
    EXPECT_EQ(v.code, c.code) << v.reason;
    if (c.outcome == PayloadVerdict::Outcome::kDepends) {
      EXPECT_EQ(v.depends_on, "the machine's language");
      EXPECT_NE(v.reason.find("languages"), std::string::npos) << v.reason;
    }
  }
}

TEST(JudgePayload, MembersPartlyBeyondTheirSectionAreWrittenWithZeros) {
  // The stub goes on and runs the setup program; what the setup program makes of the zeros in
  // its archive, or in itself, is beyond the stub.
  const PayloadVerdict archive = Judge(
      {{B7, {With(Named(u"LUMORA"), MappedBytes::kNotFromFile)}}, {BN, {Named(u"SETUP")}}});
  EXPECT_EQ(archive.outcome, PayloadVerdict::Outcome::kDepends);
  EXPECT_NE(archive.reason.find("zeros"), std::string::npos) << archive.reason;
  const PayloadVerdict setup =
      Judge({{B7, {Named(u"LUMORA")}}, {BN, {With(Named(u"SETUP"), MappedBytes::kNotFromFile)}}});
  EXPECT_EQ(setup.outcome, PayloadVerdict::Outcome::kDepends);
}

TEST(JudgePayload, HostileNamesAsTheStubEndsOnThem) {
  for (const HostileName& h : kHostileNames) {
    SCOPED_TRACE(h.what);
    const bool hostile_archive = h.member == PayloadMember::kArchive;
    const PayloadEntry archive = Named(hostile_archive ? h.name : u"LUMORA.PACKED.7Z");
    const PayloadEntry setup = Named(hostile_archive ? u"SETUP.EX_" : h.name);
    // A patch stands in "B7" beside the archive.
    const std::vector<ScannedType> layout =
        h.setup_type == B7 ? std::vector<ScannedType>{{B7, {archive, setup}}}
                           : std::vector<ScannedType>{{B7, {archive}}, {h.setup_type, {setup}}};
    const PayloadVerdict v = Judge(layout);
    EXPECT_EQ(v.code, h.code) << v.reason;
    EXPECT_EQ(v.extra, h.extra) << v.reason;
  }
}

TEST(JudgePayload, PreviousVersionMustFitTheSetupCommandLine) {
  const std::vector<ScannedType> shipped = {{B7, {Named(u"LUMORA.PACKED.7Z")}},
                                            {BL, {Named(u"SETUP.EX_")}}};
  const std::vector<ScannedType> uncompressed = {
      {BN, {Named(u"LUMORA.PACKED.7Z"), Named(u"SETUP")}}};
  // 1039 units: the quoted setup path (27: 16 + "setup.exe"), " --install-archive=" and its two
  // quotes (21), the archive path (32: 16 + 16), " --previous-version=" and its two quotes (22),
  // the version.
  EXPECT_EQ(LongestPreviousVersion(16, B7), 1039u - 27 - 21 - 32 - 22);
  EXPECT_EQ(LongestPreviousVersion(16, BN), LongestPreviousVersion(16, B7) - 5);
  const size_t longest = LongestPreviousVersion(16, B7);
  struct VersionCase {
    const std::vector<ScannedType>* layout;
    std::u16string version;
    uint32_t code;
  };
  const VersionCase cases[] = {
      {&shipped, u"", 0},
      {&shipped, std::u16string(longest, u'1'), 0},
      {&shipped, std::u16string(longest + 1, u'1'), 105},
      {&uncompressed, std::u16string(longest - 5, u'1'), 0},
      {&uncompressed, std::u16string(longest - 4, u'1'), 105},
      // What the command line cannot carry intact, however short.
      {&shipped, u"1.0.0.0\" --system-level --uncompressed-archive=\"C:\\evil.7z", 105},
      {&shipped, u"1.2\\", 105},
      {&shipped, u"1.2\x1B[2J", 105},
      {&shipped, u"1.2\r", 105},
      {&shipped, u"1.2\u0085", 105},
      {&shipped, u"C:\\versions\\1.2", 0},
  };
  for (const VersionCase& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.version.substr(0, 40)));
    PreviousVersionFacts version;
    version.present = true;
    version.text = c.version;
    version.languages = 1;
    const PayloadVerdict v = Judge(*c.layout, version);
    EXPECT_EQ(v.code, c.code) << v.reason;
  }
}

// The work directory is made beside the installer: a long name or previous version leaves room
// only for short installer folders, and the verdict names the longest. The boundaries of the
// archive's name of 243 and 239 units and of the 937-unit version were seen with the stub under
// Wine: from a folder one unit longer it ends with 108 or 105.
TEST(JudgePayload, LongNamesAndVersionsBindTheInstallerToShortFolders) {
  auto layout = [](const std::u16string& archive, PayloadType setup_type,
                   const std::u16string& setup) {
    return std::vector<ScannedType>{{B7, {Named(archive)}}, {setup_type, {Named(setup)}}};
  };
  auto archive_of = [](size_t units) { return u"lumora" + std::u16string(units - 6, u'a'); };
  const std::u16string setup_205 = u"SETUP" + std::u16string(200, u'X');
  struct FolderCase {
    const char* what;
    std::vector<ScannedType> layout;
    size_t version_units;  // 0: none
    uint32_t longest_folder;
    bool bound;              // the verdict depends on the folder
    const char* limit;       // a part of what a longer folder runs out of
  } const cases[] = {
      {"the shipped names", layout(u"LUMORA.PACKED.7Z", BL, u"SETUP.EX_"), 0, 230, false,
       "the archive's name (16 units)"},
      {"an archive name of 243", layout(archive_of(243), BL, u"SETUP.EX_"), 0, 3, true,
       "the archive's name (243 units) in the work directory overflows the stub's 260-unit path "
       "buffer, and the stub ends with 108"},
      {"an archive name of 239", layout(archive_of(239), BL, u"SETUP.EX_"), 0, 7, true, "108"},
      {"a version of 937", layout(u"LUMORA.7Z", BL, u"SETUP.EX_"), 937, 6, true,
       "the setup command line (with a previous version of 937 units) overflows the stub's "
       "1040-unit buffer, and the stub ends with 105"},
      {"just short of an ordinary folder", layout(archive_of(147), BL, u"SETUP.EX_"), 0, 99, true,
       "108"},
      {"an ordinary folder", layout(archive_of(146), BL, u"SETUP.EX_"), 0, 100, false, "108"},
      {"a long cabinet name", layout(u"LUMORA.7Z", BL, setup_205), 0, 41, true,
       "the setup program's name (205 units)"},
      {"a long plain setup name: written as setup.exe", layout(u"LUMORA.7Z", BN, setup_205), 0,
       237, false, "\"setup.exe\" (9 units)"},
  };
  for (const FolderCase& c : cases) {
    SCOPED_TRACE(c.what);
    PreviousVersionFacts version;
    version.present = c.version_units != 0;
    version.text = std::u16string(c.version_units, u'1');
    version.languages = version.present ? 1 : 0;
    const PayloadVerdict v = Judge(c.layout, version);
    EXPECT_EQ(v.longest_folder, c.longest_folder) << v.reason;
    EXPECT_EQ(v.FolderBound(), c.bound) << v.reason;
    EXPECT_EQ(v.accepted(), !c.bound) << v.reason;
    EXPECT_NE(v.folder_limit.find(c.limit), std::string::npos) << v.folder_limit;
    if (c.bound) {
      EXPECT_NE(v.reason.find("at most " + std::to_string(c.longest_folder) + " characters"),
                std::string::npos)
          << v.reason;
    }
  }
}

TEST(CheckPreviousVersion, RefusesWhatBreaksTheCommandLine) {
  struct VersionCase {
    std::u16string version;
    const char* message;  // null: accepted
  };
  const size_t longest = LongestPreviousVersion(16, B7);
  const VersionCase cases[] = {
      {u"1.2.3.4", nullptr},
      {u"C:\\versions\\1.2", nullptr},
      {std::u16string(longest, u'9'), nullptr},
      {std::u16string(longest + 1, u'9'), "at most"},
      {u"1.2\\", "backslash"},
      {u"1.2\\\\", "backslash"},
      {u"1.\"2", "double quotes"},
      {u"1.2\t", "control characters"},
      {u"1.2\u009B", "control characters"},
  };
  for (const VersionCase& c : cases) {
    std::string error;
    EXPECT_EQ(CheckPreviousVersion(c.version, 16, B7, error), c.message == nullptr) << error;
    if (c.message != nullptr) EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }
}

TEST(PayloadTypes, AreParsedExactly) {
  PayloadType type = B7;
  std::string error;
  for (const auto& [text, expected] :
       {std::pair<const char*, PayloadType>{"B7", B7}, {"BL", BL}, {"BN", BN}}) {
    EXPECT_TRUE(CheckPayloadType(text, "archive", type, error)) << text;
    EXPECT_EQ(type, expected);
    EXPECT_EQ(PayloadTypeText(expected), text);
  }
  for (const char* wrong : {"bl", "B8", "B", "BLL", ""}) {
    EXPECT_FALSE(CheckPayloadType(wrong, "archive", type, error)) << wrong;
    EXPECT_NE(error.find("must be B7, BL or BN"), std::string::npos) << error;
  }
}

TEST(Utf8ToUtf16, DecodesAndRejects) {
  std::u16string out;
  EXPECT_TRUE(Utf8ToUtf16("1.0 \xCE\xB2 \xE2\x82\xAC \xF0\x9F\x98\x80", out));
  EXPECT_EQ(out, u"1.0 \u03B2 \u20AC \U0001F600");
  for (const char* bad : {"\xC3", "\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\x80", "a\xE2\x82"}) {
    EXPECT_FALSE(Utf8ToUtf16(bad, out)) << bad;
  }
}

}  // namespace
