// The stub's reading of a payload layout, as check mode and the packer's final guard apply it.
#include "payload_rules.h"
#include "utf_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

PayloadEntry Named(const std::u16string& name, uint32_t size = 10, bool cabinet = true) {
  PayloadEntry e;
  e.resource.name = ResourceKey::Name(name);
  e.resource.size = size;
  e.resource.mapped = true;
  e.cabinet_magic = cabinet;
  return e;
}

PayloadEntry Identifier() {
  PayloadEntry e;
  e.resource.name = ResourceKey::Id(1);
  e.resource.size = 10;
  e.resource.mapped = true;
  return e;
}

struct Case {
  const char* what;
  std::vector<PayloadType> layout;
  uint32_t code, extra;
  const char* archive_type;
  const char* setup_type;
};

TEST(ClassifyPayload, FollowsTheStub) {
  const std::u16string n243 = u"lumora" + std::u16string(237, u'x');
  const std::u16string n244 = n243 + u"x";
  const std::u16string n259 = u"lumora" + std::u16string(253, u'x');
  const std::u16string n260 = n259 + u"x";
  PayloadEntry unmapped_archive = Named(u"LUMORA"), unmapped_setup = Named(u"SETUP.EX_");
  unmapped_archive.resource.mapped = unmapped_setup.resource.mapped = false;
  const Case cases[] = {
      {"shipped layout", {{"B7", {Named(u"LUMORA.PACKED.7Z")}}, {"BL", {Named(u"SETUP.EX_")}}},
       0, 0, "B7", "BL"},
      {"bare prefixes, mixed case", {{"BN", {Named(u"LuMoRa"), Named(u"sEtUp")}}}, 0, 0, "BN", "BN"},
      // A name becomes a path beside a work directory of at least 16 units.
      {"243 units", {{"B7", {Named(n243)}}, {"BN", {Named(u"SETUP")}}}, 0, 0, "B7", "BN"},
      {"244 units", {{"B7", {Named(n244)}}, {"BN", {Named(u"SETUP")}}}, 108, 0, "B7", "BN"},
      {"259 units", {{"B7", {Named(n259)}}, {"BN", {Named(u"SETUP")}}}, 108, 0, "B7", "BN"},
      {"setup patch of 244 units",
       {{"B7", {Named(u"LUMORA"), Named(u"SETUP" + n244.substr(6) + u"x")}}}, 108, 0, "B7", "B7"},
      {"uncompressed setup of 259 units is written as setup.exe",
       {{"B7", {Named(u"LUMORA")}}, {"BN", {Named(u"SETUP" + n259.substr(5))}}}, 0, 0, "B7", "BN"},
      // Names that would leave the work directory or name another member's file.
      {"archive name with \"..\"", {{"B7", {Named(u"LUMORA..\\X")}}, {"BN", {Named(u"SETUP")}}},
       112, 123, "B7", "BN"},
      {"archive name ending in a dot", {{"B7", {Named(u"LUMORA.")}}, {"BN", {Named(u"SETUP")}}},
       112, 123, "B7", "BN"},
      {"patch named setup.exe", {{"B7", {Named(u"LUMORA"), Named(u"setup.EXE")}}}, 115, 123,
       "B7", "B7"},
      {"cabinet name with a stream", {{"B7", {Named(u"LUMORA")}}, {"BL", {Named(u"SETUP:S")}}},
       115, 123, "B7", "BL"},
      {"uncompressed setup's name is not judged",
       {{"B7", {Named(u"LUMORA")}}, {"BN", {Named(u"SETUP\\..\\X")}}}, 0, 0, "B7", "BN"},
      {"archive name judged before a missing setup", {{"B7", {Named(u"LUMORA:S")}}}, 115, 2,
       "B7", ""},
      // Data outside the file's sections: the write fails (as seen under Wine).
      {"archive not mapped", {{"B7", {unmapped_archive}}, {"BL", {Named(u"SETUP.EX_")}}}, 112, 1784,
       "B7", "BL"},
      {"setup not mapped", {{"B7", {Named(u"LUMORA")}}, {"BL", {unmapped_setup}}}, 116, 1784,
       "B7", "BL"},
      {"unknown name in B7", {{"B7", {Named(u"APP.7Z")}}}, 112, 13, "", ""},
      {"unknown name after the archive", {{"B7", {Named(u"LUMORA")}}, {"BL", {Named(u"X")}}},
       115, 13, "B7", ""},
      {"prefix not at the start", {{"B7", {Named(u"XLUMORA")}}}, 112, 13, "", ""},
      {"part of the prefix", {{"B7", {Named(u"LUMOR")}}}, 112, 13, "", ""},
      {"non-ASCII case pair", {{"B7", {Named(u"LUMORA")}}, {"BN", {Named(u"\u017Fetup")}}},
       115, 13, "B7", ""},
      {"archives in B7 and BN", {{"B7", {Named(u"LUMORA.A")}}, {"BN", {Named(u"LUMORA.B")}}},
       115, 68, "B7", ""},
      {"two archives in B7", {{"B7", {Named(u"LUMORA.A"), Named(u"LUMORA.B")}}}, 112, 68, "", ""},
      {"two setups in one type",
       {{"B7", {Named(u"LUMORA")}}, {"BN", {Named(u"SETUP.A"), Named(u"SETUP.B")}}}, 115, 68,
       "B7", ""},
      {"260 units", {{"B7", {Named(n260)}}}, 112, 206, "", ""},
      {"no setup", {{"B7", {Named(u"LUMORA")}}}, 115, 2, "B7", ""},
      {"no archive", {{"BL", {Named(u"SETUP.EX_")}}}, 112, 2, "", "BL"},
      {"identifiers end a type quietly",
       {{"B7", {Named(u"LUMORA")}}, {"BL", {Identifier()}}}, 115, 2, "B7", ""},
      {"an empty resource is absent and ends its type",
       {{"B7", {Named(u"LUMORA", 0), Named(u"SETUP")}}}, 112, 2, "", ""},
      {"a name Windows cannot find again ends its type",
       {{"B7", {[] { PayloadEntry e = Named(u"lumora"); e.findable = false; return e; }()}},
        {"BN", {Named(u"SETUP")}}},
       112, 2, "", "BN"},
      {"cabinet without signature",
       {{"B7", {Named(u"LUMORA")}}, {"BL", {Named(u"SETUP.EX_", 10, false)}}}, 115, 0, "B7", "BL"},
      {"cabinet named setup.exe", {{"B7", {Named(u"LUMORA")}}, {"BL", {Named(u"SETUP.EXE")}}},
       115, 0, "B7", "BL"},
      {"patch setup needs no signature",
       {{"B7", {Named(u"LUMORA"), Named(u"SETUP.PATCH", 10, false)}}}, 0, 0, "B7", "B7"},
      {"types outside the three are not scanned",
       {{"B8", {Named(u"LUMORA")}}, {"BN", {Named(u"SETUP")}}}, 112, 2, "", "BN"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const PayloadVerdict v = ClassifyPayload(c.layout);
    EXPECT_EQ(v.code, c.code) << v.reason;
    EXPECT_EQ(v.extra, c.extra) << v.reason;
    EXPECT_EQ(v.archive_type, c.archive_type);
    EXPECT_EQ(v.setup_type, c.setup_type);
    if (c.code != 0) EXPECT_FALSE(v.reason.empty());
  }
}

TEST(ClassifyPayload, PreviousVersionMustFitTheSetupCommandLine) {
  const std::vector<PayloadType> shipped = {{"B7", {Named(u"LUMORA.PACKED.7Z")}},
                                            {"BL", {Named(u"SETUP.EX_")}}};
  const std::vector<PayloadType> uncompressed = {{"BN", {Named(u"LUMORA.PACKED.7Z"), Named(u"SETUP")}}};
  // 1039 units: the quoted setup path (27: 16 + "setup.exe"), " --install-archive=" and its two
  // quotes (21), the archive path (32: 16 + 16), " --previous-version=" and its two quotes (22),
  // the version.
  EXPECT_EQ(LongestPreviousVersion(16, "B7"), 1039u - 27 - 21 - 32 - 22);
  EXPECT_EQ(LongestPreviousVersion(16, "BN"), LongestPreviousVersion(16, "B7") - 5);
  struct Case {
    const std::vector<PayloadType>* layout;
    size_t length;
    uint32_t code;
  };
  const size_t longest = LongestPreviousVersion(16, "B7");
  const Case cases[] = {
      {&shipped, 0, 0},
      {&shipped, longest, 0},
      {&shipped, longest + 1, 105},
      {&uncompressed, longest - 5, 0},
      {&uncompressed, longest - 4, 105},
  };
  for (const Case& c : cases) {
    const std::u16string version(c.length, u'1');
    const PayloadVerdict v = ClassifyPayload(*c.layout, &version);
    EXPECT_EQ(v.code, c.code) << c.length << ": " << v.reason;
  }
}

TEST(CheckPreviousVersion, RefusesWhatBreaksTheCommandLine) {
  struct Case {
    std::u16string version;
    const char* message;  // null: accepted
  };
  const size_t longest = LongestPreviousVersion(16, "B7");
  const Case cases[] = {
      {u"1.2.3.4", nullptr},
      {u"C:\\versions\\1.2", nullptr},
      {std::u16string(longest, u'9'), nullptr},
      {std::u16string(longest + 1, u'9'), "at most"},
      {u"1.2\\", "backslash"},
      {u"1.2\\\\", "backslash"},
      {u"1.\"2", "double quotes"},
      {u"1.2\t", "control characters"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(CheckPreviousVersion(c.version, 16, "B7", error), c.message == nullptr) << error;
    if (c.message != nullptr) EXPECT_NE(error.find(c.message), std::string::npos) << error;
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
