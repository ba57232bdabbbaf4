#include "resources/icon_file.h"

#include <algorithm>

#include "platform/file_io.h"
#include "pe/pe_format.h"

namespace {

// ICONDIR: reserved (0), type (1 for icons, 2 for cursors), count; then 16-byte entries.
constexpr size_t kIconDirSize = 6;
constexpr size_t kIconDirEntrySize = 16;
// RT_GROUP_ICON's entries are the same but for the last field: a 16-bit resource id in place of
// the 32-bit file offset.
constexpr size_t kGroupEntrySize = 14;
constexpr uint16_t kIconType = 1;
constexpr uint16_t kCursorType = 2;

// An image is a PNG, or a BITMAPINFOHEADER followed by its palette, its colour bits and its mask,
// with the height doubled for the two.
constexpr uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr size_t kPngHeaderEnd = 24;  // the signature, the IHDR chunk's length and type, w, h
constexpr uint32_t kBitmapInfoHeaderSize = 40;
constexpr uint32_t kBiRgb = 0;

uint32_t LoadBig32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

uint32_t Dimension(uint8_t stored) { return stored == 0 ? 256 : stored; }

bool IsPng(const std::vector<uint8_t>& bytes) { return StartsAsPng(bytes.data(), bytes.size()); }

// What is wrong with an image, judged against its directory entry; empty when nothing is.
std::string ImageFault(IconImage& image) {
  const std::vector<uint8_t>& b = image.bytes;
  const uint32_t width = Dimension(image.width), height = Dimension(image.height);
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  if (IsPng(b)) {
    if (b.size() < kPngHeaderEnd || LoadBig32(&b[8]) != 13 || b[12] != 'I' || b[13] != 'H' ||
        b[14] != 'D' || b[15] != 'R') {
      return "is a PNG image without its header";
    }
    if (LoadBig32(&b[16]) != width || LoadBig32(&b[20]) != height) {
      return "is a PNG image of " + std::to_string(LoadBig32(&b[16])) + "x" +
             std::to_string(LoadBig32(&b[20])) + ", but the directory says " + size;
    }
    if (image.planes == 0) image.planes = 1;
    if (image.bit_count == 0) image.bit_count = 32;
    return "";
  }
  if (b.size() < kBitmapInfoHeaderSize || Load32(&b[0]) != kBitmapInfoHeaderSize) {
    return "is neither a PNG image nor a bitmap with a BITMAPINFOHEADER";
  }
  const int32_t bitmap_width = static_cast<int32_t>(Load32(&b[4]));
  const int32_t bitmap_height = static_cast<int32_t>(Load32(&b[8]));
  const uint16_t planes = Load16(&b[12]), bits = Load16(&b[14]);
  const uint32_t compression = Load32(&b[16]), colors_used = Load32(&b[32]);
  if (bitmap_width != static_cast<int32_t>(width) ||
      bitmap_height != static_cast<int32_t>(2 * height)) {
    return "is a bitmap of " + std::to_string(bitmap_width) + "x" +
           std::to_string(bitmap_height / 2) + ", but the directory says " + size;
  }
  if (planes != 1 || (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 &&
                      bits != 32) || compression != kBiRgb) {
    return "is a bitmap of " + std::to_string(bits) + " bits in " + std::to_string(planes) +
           " planes with compression " + std::to_string(compression) +
           "; icons hold uncompressed bitmaps of 1, 4, 8, 16, 24 or 32 bits in one plane";
  }
  const uint64_t palette = bits <= 8 ? 4ull * (colors_used != 0 ? colors_used : 1u << bits) : 0;
  const uint64_t colour_row = (uint64_t{width} * bits + 31) / 32 * 4;
  const uint64_t mask_row = (uint64_t{width} + 31) / 32 * 4;
  const uint64_t needed = kBitmapInfoHeaderSize + palette + (colour_row + mask_row) * height;
  if (b.size() < needed) {
    return "holds " + std::to_string(b.size()) + " bytes, but a " + size + " bitmap of " +
           std::to_string(bits) + " bits needs " + std::to_string(needed);
  }
  if (image.planes == 0) image.planes = planes;
  if (image.bit_count == 0) image.bit_count = bits;
  return "";
}

}  // namespace

bool StartsAsPng(const uint8_t* bytes, size_t size) {
  return size >= sizeof(kPngSignature) &&
         std::equal(std::begin(kPngSignature), std::end(kPngSignature), bytes);
}

bool ParseIconFile(const std::vector<uint8_t>& file, std::vector<IconImage>& images,
                   std::string& error) {
  images.clear();
  if (file.size() < kIconDirSize || Load16(&file[0]) != 0 ||
      (Load16(&file[2]) != kIconType && Load16(&file[2]) != kCursorType)) {
    error = "is not an icon file (no icon directory at its start); give an .ico file";
    return false;
  }
  if (Load16(&file[2]) == kCursorType) {
    error = "is a cursor, not an icon; give an .ico file";
    return false;
  }
  const uint16_t count = Load16(&file[4]);
  const uint64_t directory_end = kIconDirSize + uint64_t{kIconDirEntrySize} * count;
  if (count == 0) {
    error = "holds no images; export the icon again with its images";
    return false;
  }
  if (directory_end > file.size()) {
    error = "is cut short: its directory lists " + std::to_string(count) + " images, more than its " +
            std::to_string(file.size()) + " bytes hold; export the icon again";
    return false;
  }
  // Each image's bytes lie after the directory, within the file, apart from every other image.
  std::vector<std::pair<uint64_t, uint64_t>> ranges;
  for (uint16_t i = 0; i < count; ++i) {
    const uint8_t* entry = &file[kIconDirSize + kIconDirEntrySize * i];
    const uint32_t size = Load32(entry + 8), offset = Load32(entry + 12);
    const std::string which = "image " + std::to_string(i + 1) + " of " + std::to_string(count) +
                              " (" + std::to_string(Dimension(entry[0])) + "x" +
                              std::to_string(Dimension(entry[1])) + ")";
    if (size == 0) {
      error = "is damaged: its " + which + " is empty; export the icon again";
      return false;
    }
    if (offset < directory_end) {
      error = "is damaged: its " + which + " is said to start inside the icon's directory; "
              "export the icon again";
      return false;
    }
    if (uint64_t{offset} + size > file.size()) {
      error = "is cut short: its " + which + " needs " + std::to_string(uint64_t{offset} + size) +
              " bytes, but the file has " + std::to_string(file.size()) +
              "; copy or export the icon again";
      return false;
    }
    IconImage image;
    image.width = entry[0];
    image.height = entry[1];
    image.colors = entry[2];
    image.planes = Load16(entry + 4);
    image.bit_count = Load16(entry + 6);
    image.bytes.assign(file.begin() + offset, file.begin() + offset + size);
    const std::string fault = ImageFault(image);
    if (!fault.empty()) {
      error = "has " + which + " that " + fault + "; export the icon again";
      return false;
    }
    ranges.emplace_back(offset, uint64_t{offset} + size);
    images.push_back(std::move(image));
  }
  std::sort(ranges.begin(), ranges.end());
  for (size_t i = 1; i < ranges.size(); ++i) {
    if (ranges[i].first < ranges[i - 1].second) {
      error = "is damaged: two of its images share bytes (at offset " +
              std::to_string(ranges[i].first) + "); export the icon again";
      return false;
    }
  }
  return true;
}

bool ReadIconFile(const InputFile& file, std::vector<IconImage>& images, std::string& error) {
  if (file.size() > kMaxIconFileSize) {
    error = "the icon " + file.path() + " is larger than an icon file can be (16 MiB); give an "
            ".ico file of the application's icon";
    return false;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(file.size()));
  if (!bytes.empty() && !file.ReadAt(0, bytes.data(), bytes.size(), error)) return false;
  if (!ParseIconFile(bytes, images, error)) {
    error = "the icon " + file.path() + " " + error;
    return false;
  }
  return true;
}

std::vector<Resource> IconResources(const std::vector<IconImage>& images,
                                    const ResourceKey& group_name, uint16_t language) {
  std::vector<Resource> resources;
  std::vector<uint8_t> group(kIconDirSize + kGroupEntrySize * images.size());
  Store16(&group[2], kIconType);
  Store16(&group[4], static_cast<uint16_t>(images.size()));
  for (size_t i = 0; i < images.size(); ++i) {
    const IconImage& image = images[i];
    const uint16_t id = static_cast<uint16_t>(i + 1);
    uint8_t* entry = &group[kIconDirSize + kGroupEntrySize * i];
    entry[0] = image.width;
    entry[1] = image.height;
    entry[2] = image.colors;
    Store16(entry + 4, image.planes);
    Store16(entry + 6, image.bit_count);
    Store32(entry + 8, static_cast<uint32_t>(image.bytes.size()));
    Store16(entry + 12, id);
    resources.push_back(MemoryResource(ResourceKey::Id(kRtIcon), ResourceKey::Id(id), language,
                                       image.bytes));
  }
  resources.push_back(
      MemoryResource(ResourceKey::Id(kRtGroupIcon), group_name, language, std::move(group)));
  return resources;
}

bool ParseIconGroup(const std::vector<uint8_t>& data, std::vector<IconGroupEntry>& entries) {
  entries.clear();
  if (data.size() < kIconDirSize) return false;
  const uint16_t count = Load16(&data[4]);
  if (kIconDirSize + kGroupEntrySize * count > data.size()) return false;
  for (uint16_t i = 0; i < count; ++i) {
    const uint8_t* entry = &data[kIconDirSize + kGroupEntrySize * i];
    entries.push_back({Dimension(entry[0]), Dimension(entry[1]), Load16(entry + 6),
                       Load32(entry + 8), Load16(entry + 12), false});
  }
  return true;
}
