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

uint8_t Pattern(uint32_t i, const IconShape& shape) {
  return static_cast<uint8_t>(i * 31 + shape.size * 7 + shape.bits);
}

void PngChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
  PutBig32(out, static_cast<uint32_t>(data.size()));
  const size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  PutBig32(out, static_cast<uint32_t>(crc32(0, &out[start], static_cast<uInt>(out.size() - start))));
}

std::vector<uint8_t> Png(const IconShape& shape) {
  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  PutBig32(header, shape.size);
  PutBig32(header, shape.size);
  header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits per channel, RGBA
  PngChunk(out, "IHDR", header);
  std::vector<uint8_t> rows;
  for (uint32_t y = 0; y < shape.size; ++y) {
    rows.push_back(0);  // no filter
    for (uint32_t x = 0; x < shape.size * 4; ++x) {
      rows.push_back(x % 4 == 3 ? 0xFF : Pattern(y * shape.size * 4 + x, shape));
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

std::vector<uint8_t> Bitmap(const IconShape& shape) {
  std::vector<uint8_t> out;
  Put32(out, 40);
  Put32(out, shape.size);
  Put32(out, shape.size * 2);  // the colour bits and the mask, one above the other
  Put16(out, 1);
  Put16(out, shape.bits);
  for (int i = 0; i < 6; ++i) Put32(out, 0);  // uncompressed; sizes and colours as implied
  const uint32_t palette = shape.bits <= 8 ? 4u << shape.bits : 0;
  const uint32_t colour_row = (shape.size * shape.bits + 31) / 32 * 4;
  const uint32_t mask_row = (shape.size + 31) / 32 * 4;
  const uint32_t pixels = palette + colour_row * shape.size;
  for (uint32_t i = 0; i < pixels; ++i) {
    // An opaque alpha in 32-bit images, so that every pixel shows.
    out.push_back(shape.bits == 32 && i % 4 == 3 ? 0xFF : Pattern(i, shape));
  }
  out.resize(out.size() + mask_row * shape.size, 0);
  return out;
}

}  // namespace

std::vector<uint8_t> IconImageBytes(const IconShape& shape) {
  return shape.png ? Png(shape) : Bitmap(shape);
}

std::vector<uint8_t> IconFileBytes(const std::vector<IconShape>& images) {
  std::vector<uint8_t> out;
  Put16(out, 0);
  Put16(out, 1);
  Put16(out, static_cast<uint32_t>(images.size()));
  uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
  std::vector<uint8_t> data;
  for (const IconShape& shape : images) {
    const std::vector<uint8_t> image = IconImageBytes(shape);
    out.push_back(static_cast<uint8_t>(shape.size == 256 ? 0 : shape.size));
    out.push_back(static_cast<uint8_t>(shape.size == 256 ? 0 : shape.size));
    out.push_back(static_cast<uint8_t>(shape.bits < 8 ? 1u << shape.bits : 0));
    out.push_back(0);
    Put16(out, 1);
    Put16(out, shape.png ? 32 : shape.bits);
    Put32(out, static_cast<uint32_t>(image.size()));
    Put32(out, offset);
    offset += static_cast<uint32_t>(image.size());
    data.insert(data.end(), image.begin(), image.end());
  }
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

std::vector<IconShape> ApplicationIcon() {
  return {{16, 32, false}, {32, 8, false}, {256, 32, true}};
}
