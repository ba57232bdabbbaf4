// Icon files made byte by byte for the tests: bitmaps of a given size and depth and PNG images,
// each filled with a pattern of its own so that a misplaced copy shows, and put together as an
// .ico file. The host tests judge the packer's reading of them; lumora-icon-fixture writes one
// for the Windows tree, where Windows' own icon functions read the packed installer.
#pragma once

#include <cstdint>
#include <vector>

struct IconShape {
  uint32_t size = 32;     // width and height, up to 256
  uint16_t bits = 32;     // 1, 4, 8, 24 or 32; a PNG is always 32-bit RGBA
  bool png = false;
};

// The image as an .ico file and an RT_ICON resource hold it.
std::vector<uint8_t> IconImageBytes(const IconShape& shape);
// An .ico file of the images, in order, each right after the one before.
std::vector<uint8_t> IconFileBytes(const std::vector<IconShape>& images);

// The icon the Windows tree's installers carry: 16x16 32-bit, 32x32 8-bit, 256x256 PNG.
std::vector<IconShape> ApplicationIcon();
