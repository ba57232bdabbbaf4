// Classifying payload resources: the visitor on its own for names that no resource compiler
// keeps (they upper-case every name), and the enumeration over real resource images.
#include "payload/payload_scan.h"

#include <gtest/gtest.h>

#include <string>

#include "payload_test_support.h"

namespace {

const uint8_t kByte = 7;

struct Scan {
  PathBuffer archive_name;
  ResourceBlob archive;
  PathBuffer setup_name;
  ResourceBlob setup;
  uint32_t error = 0;
  PayloadScan scan{archive_name, archive, setup_name, setup, error};
  bool Visit(const wchar_t* name) {
    ResourceBlob blob;
    blob.data = &kByte;
    blob.size = 1;
    return scan.OnResource(name, blob);
  }
};

TEST(PayloadScan, ClassifiesByAsciiCaseInsensitivePrefix) {
  const struct {
    const wchar_t* name;
    bool archive;
    bool setup;
    uint32_t error;
  } cases[] = {
      {L"LUMORA.PACKED.7Z", true, false, 0},
      {L"lumora", true, false, 0},
      {L"LuMoRa-anything", true, false, 0},
      {L"SETUP.EX_", false, true, 0},
      {L"setup", false, true, 0},
      {L"sEtUp.exe", false, true, 0},
      {L"xlumora", false, false, ERROR_INVALID_DATA},     // prefix not at the start
      {L"lumor", false, false, ERROR_INVALID_DATA},       // only the first letters
      {L"setu.exe", false, false, ERROR_INVALID_DATA},
      {L"", false, false, ERROR_INVALID_DATA},
      // Only A to Z fold: the long s (U+017F), whose capital is S, is no 's' here.
      {L"\u017Fetup.exe", false, false, ERROR_INVALID_DATA},
      {L"\u017FETUP.EXE", false, false, ERROR_INVALID_DATA},
      {L"lumora\u017F", true, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    Scan s;
    EXPECT_EQ(s.Visit(c.name), c.error == 0);
    EXPECT_EQ(s.error, c.error);
    EXPECT_EQ(s.archive.size != 0, c.archive);
    EXPECT_EQ(s.setup.size != 0, c.setup);
    if (c.archive) EXPECT_STREQ(s.archive_name.text, c.name);
    if (c.setup) EXPECT_STREQ(s.setup_name.text, c.name);
  }
}

TEST(PayloadScan, RejectsASecondMemberOfEitherKind) {
  Scan s;
  EXPECT_TRUE(s.Visit(L"LUMORA.A"));
  EXPECT_TRUE(s.Visit(L"SETUP.A"));
  EXPECT_FALSE(s.Visit(L"lumora.b"));
  EXPECT_EQ(s.error, static_cast<uint32_t>(ERROR_TOO_MANY_NAMES));
  EXPECT_STREQ(s.archive_name.text, L"LUMORA.A") << "what was recorded stays recorded";
  s.error = 0;
  EXPECT_FALSE(s.Visit(L"Setup.B"));
  EXPECT_EQ(s.error, static_cast<uint32_t>(ERROR_TOO_MANY_NAMES));
  EXPECT_STREQ(s.setup_name.text, L"SETUP.A");
}

TEST(PayloadScan, NamesMustFitAPathBuffer) {
  for (const wchar_t* prefix : {L"lumora", L"setup"}) {
    SCOPED_TRACE(testing::Message() << prefix);
    std::wstring name = prefix;
    name.resize(259, L'x');
    Scan fits;
    EXPECT_TRUE(fits.Visit(name.c_str()));
    EXPECT_EQ(fits.error, 0u);
    name += L'x';
    Scan too_long;
    EXPECT_FALSE(too_long.Visit(name.c_str()));
    EXPECT_EQ(too_long.error, static_cast<uint32_t>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(too_long.archive.size + too_long.setup.size, 0u);
  }
}

// The enumeration over real images: which names reach the visitor, and where a walk stops.
TEST(EnumerateResources, VisitsTheStringNamesOfOneType) {
  const struct {
    const wchar_t* layout;
    const wchar_t* type;
    const wchar_t* archive;  // null: none recorded
    const wchar_t* setup;
    uint32_t error;
  } cases[] = {
      {L"shipped", L"B7", L"LUMORA.PACKED.7Z", nullptr, 0},
      {L"shipped", L"BL", nullptr, L"SETUP.EX_", 0},
      {L"shipped", L"BN", nullptr, nullptr, 0},  // a type the image does not have
      {L"cabinet_named_setup_exe", L"BL", nullptr, L"SETUP.EXE", 0},  // stored upper-case
      {L"integer_only", L"BL", nullptr, nullptr, 0},
      // The empty archive stops the walk before the setup program that follows it.
      {L"empty_archive", L"B7", nullptr, nullptr, 0},
      {L"archive_then_unknown", L"B7", L"LUMORA.PACKED.7Z", nullptr, ERROR_INVALID_DATA},
      {L"two_archives_in_one_type", L"B7", L"LUMORA.A", nullptr, ERROR_TOO_MANY_NAMES},
      {L"two_setups_in_one_type", L"BN", nullptr, L"SETUP.A", ERROR_TOO_MANY_NAMES},
      {L"name_260", L"B7", nullptr, nullptr, ERROR_FILENAME_EXCED_RANGE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.layout << " " << c.type);
    LayoutImage image(c.layout);
    ASSERT_NE(image.module, nullptr);
    Scan s;
    (void)EnumerateResources(&s.scan, image.module, c.type);
    EXPECT_EQ(s.error, c.error);
    EXPECT_STREQ(s.archive.size != 0 ? s.archive_name.text : nullptr, c.archive);
    EXPECT_STREQ(s.setup.size != 0 ? s.setup_name.text : nullptr, c.setup);
  }
}

TEST(EnumerateResources, HandsOverTheResourceBytesInPlace) {
  LayoutImage image(L"shipped");
  ASSERT_NE(image.module, nullptr);
  Scan s;
  EXPECT_TRUE(EnumerateResources(&s.scan, image.module, L"B7"));
  std::vector<uint8_t> expected;
  ASSERT_TRUE(ReadBytes(DataPath(L"archive.7z"), expected));
  ASSERT_EQ(s.archive.size, expected.size());
  EXPECT_EQ(std::vector<uint8_t>(s.archive.data, s.archive.data + s.archive.size), expected);
  // The blob points into the mapped image itself.
  MEMORY_BASIC_INFORMATION region;
  ASSERT_NE(VirtualQuery(s.archive.data, &region, sizeof(region)), 0u);
  EXPECT_EQ(region.AllocationBase, reinterpret_cast<void*>(
                                       reinterpret_cast<uintptr_t>(image.module) & ~uintptr_t{3}));
}

TEST(EnumerateResources, StopsAtOnceWithoutAVisitorOrWhenStopped) {
  LayoutImage image(L"two_archives_in_one_type");
  ASSERT_NE(image.module, nullptr);
  EXPECT_FALSE(EnumerateResources(nullptr, image.module, L"B7"));
  Scan s;
  EXPECT_FALSE(EnumerateResources(&s.scan, image.module, L"B7"));
  EXPECT_FALSE(EnumerateResources(&s.scan, image.module, L"XX")) << "no such type";
}

}  // namespace
