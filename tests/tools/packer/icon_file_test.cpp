// The .ico reader: every image of a well-formed icon file comes out as it went in, and a file
// whose directory or images do not hold together is refused with what is wrong.
#include "resources/icon_file.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "icon_fixture.h"
#include "pe/pe_format.h"

namespace {

TEST(ParseIconFile, ReadsEveryImage) {
  const std::vector<IconShape> shapes = ApplicationIcon();
  std::vector<IconImage> images;
  std::string error;
  ASSERT_TRUE(ParseIconFile(IconFileBytes(shapes), images, error)) << error;
  ASSERT_EQ(images.size(), shapes.size());
  for (size_t i = 0; i < shapes.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(images[i].bytes, IconImageBytes(shapes[i]));
    EXPECT_EQ(images[i].width, shapes[i].size == 256 ? 0 : shapes[i].size);
    EXPECT_EQ(images[i].bit_count, shapes[i].bits);
    EXPECT_EQ(images[i].planes, 1);
  }
}

TEST(ParseIconFile, RefusesWhatDoesNotHoldTogether) {
  // A 16x16 32-bit bitmap, then a 32x32 PNG.
  const std::vector<uint8_t> base = IconFileBytes({{16, 32, false}, {32, 32, true}});
  const uint32_t first = Load32(&base[6 + 12]), second = Load32(&base[6 + 16 + 12]);
  using Change = std::function<void(std::vector<uint8_t>&)>;
  auto entry = [](int i, int field) { return 6 + 16 * i + field; };
  struct Case {
    const char* what;
    Change change;
    const char* message;
  };
  const Case cases[] = {
      {"empty file", [](auto& f) { f.clear(); }, "no icon directory"},
      {"reserved word set", [](auto& f) { f[0] = 1; }, "no icon directory"},
      {"a cursor", [](auto& f) { f[2] = 2; }, "is a cursor"},
      {"no images", [](auto& f) { f[4] = 0; }, "holds no images"},
      {"more entries than bytes", [](auto& f) { Store16(&f[4], 40000); }, "more than its"},
      {"image inside the directory", [&](auto& f) { Store32(&f[entry(0, 12)], 6); },
       "is damaged: its image 1 of 2 (16x16) is said to start inside the icon's directory"},
      {"image past the end", [&](auto& f) { Store32(&f[entry(1, 8)], Load32(&f[entry(1, 8)]) + 1); },
       "is cut short: its image 2 of 2 (32x32) needs 1530 bytes, but the file has 1529; copy or "
       "export the icon again"},
      {"image of no bytes", [&](auto& f) { Store32(&f[entry(0, 8)], 0); },
       "is damaged: its image 1 of 2 (16x16) is empty"},
      {"images sharing bytes", [&](auto& f) { Store32(&f[entry(0, 8)], second - first + 8); },
       "share bytes"},
      {"bitmap of another size", [&](auto& f) { f[entry(0, 0)] = 20; }, "the directory says 20x16"},
      {"bitmap short of its pixels", [&](auto& f) { Store32(&f[entry(0, 8)], second - first - 4); },
       "needs"},
      {"compressed bitmap", [&](auto& f) { Store32(&f[first + 16], 1); }, "uncompressed"},
      {"PNG of another size", [&](auto& f) { f[entry(1, 0)] = 64; }, "PNG image of 32x32"},
      {"PNG without its header", [&](auto& f) { f[second + 12] = 'X'; }, "without its header"},
      {"neither PNG nor bitmap", [&](auto& f) { Store32(&f[first], 12); }, "neither a PNG"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> file = base;
    c.change(file);
    std::vector<IconImage> images;
    std::string error;
    EXPECT_FALSE(ParseIconFile(file, images, error));
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << "one line";
  }
}

TEST(IconResources, GroupListsEachImageByItsId) {
  const std::vector<IconShape> shapes = ApplicationIcon();
  std::vector<IconImage> images;
  std::string error;
  ASSERT_TRUE(ParseIconFile(IconFileBytes(shapes), images, error)) << error;
  const std::vector<Resource> resources = IconResources(images, ResourceKey::Id(107), 1033);
  ASSERT_EQ(resources.size(), shapes.size() + 1);
  const Resource& group = resources.back();
  EXPECT_TRUE(HasId(group.type, kRtGroupIcon) && HasId(group.name, 107));
  std::vector<IconGroupEntry> entries;
  ASSERT_TRUE(ParseIconGroup(group.bytes, entries));
  ASSERT_EQ(entries.size(), shapes.size());
  for (size_t i = 0; i < shapes.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(entries[i].width, shapes[i].size);
    EXPECT_EQ(entries[i].bit_count, shapes[i].bits);
    EXPECT_EQ(entries[i].size, resources[i].bytes.size());
    EXPECT_TRUE(HasId(resources[i].type, kRtIcon) && HasId(resources[i].name, entries[i].id));
    EXPECT_EQ(resources[i].bytes, IconImageBytes(shapes[i]));
  }
}

}  // namespace
