#include "icon_fixture.h"

#include <zlib.h>

namespace {

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
void PutBig32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

uint8_t Pattern(uint32_t i, const IconSpec& spec) {
  return static_cast<uint8_t>(i * 31 + spec.size * 7 + spec.bits);
}

void PngChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
  PutBig32(out, static_cast<uint32_t>(data.size()));
  const size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  PutBig32(out, static_cast<uint32_t>(crc32(0, &out[start], static_cast<uInt>(out.size() - start))));
}

std::vector<uint8_t> Png(const IconSpec& spec) {
  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  PutBig32(header, spec.size);
  PutBig32(header, spec.size);
  header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits per channel, RGBA
  PngChunk(out, "IHDR", header);
  std::vector<uint8_t> rows;
  for (uint32_t y = 0; y < spec.size; ++y) {
    rows.push_back(0);  // no filter
    for (uint32_t x = 0; x < spec.size * 4; ++x) {
      rows.push_back(x % 4 == 3 ? 0xFF : Pattern(y * spec.size * 4 + x, spec));
    }
  }
  uLongf packed_size = compressBound(static_cast<uLong>(rows.size()));
  std::vector<uint8_t> packed(packed_size);
  compress2(packed.data(), &packed_size, rows.data(), static_cast<uLong>(rows.size()), 9);
  packed.resize(packed_size);
  PngChunk(out, "IDAT", packed);
  PngChunk(out, "IEND", {});
  return out;
}

std::vector<uint8_t> Bitmap(const IconSpec& spec) {
  std::vector<uint8_t> out;
  Put32(out, 40);
  Put32(out, spec.size);
  Put32(out, spec.size * 2);  // the colour bits and the mask, one above the other
  Put16(out, 1);
  Put16(out, spec.bits);
  for (int i = 0; i < 6; ++i) Put32(out, 0);  // uncompressed; sizes and colours as implied
  const uint32_t palette = spec.bits <= 8 ? 4u << spec.bits : 0;
  const uint32_t colour_row = (spec.size * spec.bits + 31) / 32 * 4;
  const uint32_t mask_row = (spec.size + 31) / 32 * 4;
  const uint32_t pixels = palette + colour_row * spec.size;
  for (uint32_t i = 0; i < pixels; ++i) {
    // An opaque alpha in 32-bit images, so that every pixel shows.
    out.push_back(spec.bits == 32 && i % 4 == 3 ? 0xFF : Pattern(i, spec));
  }
  out.resize(out.size() + mask_row * spec.size, 0);
  return out;
}

}  // namespace

std::vector<uint8_t> IconImageBytes(const IconSpec& spec) {
  return spec.png ? Png(spec) : Bitmap(spec);
}

std::vector<uint8_t> IconFileBytes(const std::vector<IconSpec>& images) {
  std::vector<uint8_t> out;
  Put16(out, 0);
  Put16(out, 1);
  Put16(out, static_cast<uint32_t>(images.size()));
  uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
  std::vector<uint8_t> data;
  for (const IconSpec& spec : images) {
    const std::vector<uint8_t> image = IconImageBytes(spec);
    out.push_back(static_cast<uint8_t>(spec.size == 256 ? 0 : spec.size));
    out.push_back(static_cast<uint8_t>(spec.size == 256 ? 0 : spec.size));
    out.push_back(static_cast<uint8_t>(spec.bits < 8 ? 1u << spec.bits : 0));
    out.push_back(0);
    Put16(out, 1);
    Put16(out, spec.png ? 32 : spec.bits);
    Put32(out, static_cast<uint32_t>(image.size()));
    Put32(out, offset);
    offset += static_cast<uint32_t>(image.size());
    data.insert(data.end(), image.begin(), image.end());
  }
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

std::vector<IconSpec> ApplicationIcon() {
  return {{16, 32, false}, {32, 8, false}, {256, 32, true}};
}
