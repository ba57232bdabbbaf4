// The version resource: the stub's own block takes the application's texts and numbers and keeps
// the rest; blocks that leave their bounds are not read; versions are dotted quads.
#include "resources/version_info.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "pe/pe_image.h"
#include "resources/resource_listing.h"

namespace {

std::vector<uint8_t> StubVersionBlock() {
  InputFile file;
  PeImage image;
  std::vector<Resource> listing;
  std::string error;
  EXPECT_TRUE(file.Open(LUMORA_STUB, error) && ReadPeImage(file, image, error) &&
              ReadResourceListing(image, file, listing, error))
      << error;
  for (const Resource& r : listing) {
    if (!HasId(r.type, kRtVersion)) continue;
    std::vector<uint8_t> bytes(r.size);
    EXPECT_TRUE(file.ReadAt(r.file_offset, bytes.data(), bytes.size(), error)) << error;
    return bytes;
  }
  ADD_FAILURE() << "the stub has no version resource";
  return {};
}

std::u16string Text(const VersionSummary& s, const std::u16string& key) {
  for (const auto& [k, v] : s.texts) {
    if (k == key) return v;
  }
  return u"(none)";
}

TEST(ParseVersionNumber, TakesDottedQuadsOnly) {
  struct Case {
    const char* text;
    bool valid;
  };
  const Case cases[] = {
      {"1.2.3.4", true},   {"0.0.0.0", true},    {"65535.65535.65535.65535", true},
      {"1.2.3", false},    {"1.2.3.4.5", false}, {"65536.0.0.0", false},
      {"1..3.4", false},   {"1.2.3.", false},    {".1.2.3", false},
      {"1.2.3.-4", false}, {"1.2.3.4 ", false},  {"v1.2.3.4", false},
      {"", false},         {"1.2.3.0x4", false}, {"123456.1.1.1", false},
  };
  for (const Case& c : cases) {
    VersionNumber n;
    EXPECT_EQ(ParseVersionNumber(c.text, n), c.valid) << c.text;
  }
  VersionNumber n;
  ASSERT_TRUE(ParseVersionNumber("10.200.3000.40000", n));
  EXPECT_EQ(VersionNumberText(n), "10.200.3000.40000");
}

TEST(ChangeVersionBlock, SetsTextsAndNumbersAndKeepsTheRest) {
  const std::vector<uint8_t> stub = StubVersionBlock();
  VersionSummary before;
  ASSERT_TRUE(ReadVersionBlock(stub, before));
  ASSERT_TRUE(before.has_fixed);
  VersionChanges changes;
  // A text that exists and grows, one that is new, one that shrinks.
  changes.texts = {{u"ProductName", u"Contoso Viewer \u00E9dition"},
                   {u"Comments", u"new text"},
                   {u"CompanyName", u"C"}};
  changes.has_file_version = true;
  ASSERT_TRUE(ParseVersionNumber("2.5.0.17", changes.file_version));
  std::vector<uint8_t> changed;
  std::string error;
  ASSERT_TRUE(ChangeVersionBlock(stub, changes, changed, error)) << error;
  VersionSummary after;
  ASSERT_TRUE(ReadVersionBlock(changed, after));
  EXPECT_EQ(Text(after, u"ProductName"), u"Contoso Viewer \u00E9dition");
  EXPECT_EQ(Text(after, u"Comments"), u"new text");
  EXPECT_EQ(Text(after, u"CompanyName"), u"C");
  EXPECT_EQ(VersionNumberText(after.file_version), "2.5.0.17");
  // What was not asked for stays.
  EXPECT_EQ(VersionNumberText(after.product_version), VersionNumberText(before.product_version));
  for (const char16_t* key : {u"InternalName", u"OriginalFilename", u"FileDescription"}) {
    EXPECT_EQ(Text(after, key), Text(before, key));
  }
  EXPECT_EQ(after.texts.size(), before.texts.size() + 1);
  // The block's own length is its size.
  EXPECT_EQ(changed[0] | changed[1] << 8, static_cast<int>(changed.size()));
}

TEST(ChangeVersionBlock, RefusesTextsThatDoNotFit) {
  VersionChanges changes;
  changes.texts = {{u"ProductName", std::u16string(40000, u'x')}};
  std::vector<uint8_t> changed;
  std::string error;
  EXPECT_FALSE(ChangeVersionBlock(StubVersionBlock(), changes, changed, error));
  EXPECT_NE(error.find("64 KiB"), std::string::npos) << error;
}

TEST(ReadVersionBlock, RefusesBlocksThatLeaveTheirBounds) {
  const std::vector<uint8_t> stub = StubVersionBlock();
  ASSERT_GT(stub.size(), 100u);
  using Change = std::function<void(std::vector<uint8_t>&)>;
  struct Case {
    const char* what;
    Change change;
  };
  const Case cases[] = {
      {"cut short", [](auto& b) { b.resize(b.size() / 2); }},
      {"length beyond the bytes", [](auto& b) { b[0] = 0xFF, b[1] = 0xFF; }},
      {"length below a header", [](auto& b) { b[0] = 4, b[1] = 0; }},
      {"fixed part beyond the block", [](auto& b) { b[2] = 0xFF, b[3] = 0x7F; }},
      {"another root key", [](auto& b) { b[6] = 'X'; }},
      {"no terminator in the key", [](auto& b) {
         b.resize(40);
         b[0] = 40, b[1] = 0;
         for (size_t i = 6; i < 40; ++i) b[i] = 'A';
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> block = stub;
    c.change(block);
    VersionSummary summary;
    EXPECT_FALSE(ReadVersionBlock(block, summary));
  }
}

}  // namespace
