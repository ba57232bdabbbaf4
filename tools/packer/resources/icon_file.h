// An application's icon as an .ico file holds it, turned into the resources an executable carries
// it as: one RT_ICON per image and an RT_GROUP_ICON that lists them. The file comes from the
// release engineer's build and is checked whole before anything is written: a directory that
// points outside the file or into itself, images that overlap, and image headers that disagree
// with the directory are refused with the reason. And the way back, for check: what a group lists.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "resources/resource.h"

// One image of the icon: the directory entry's fields and the image's bytes (a BMP without its
// file header, or a PNG).
struct IconImage {
  uint8_t width = 0;   // 0 means 256
  uint8_t height = 0;  // 0 means 256
  uint8_t colors = 0;
  uint16_t planes = 0;
  uint16_t bit_count = 0;
  std::vector<uint8_t> bytes;
};

// The most an icon file may hold; every image a shell shows fits many times over.
constexpr uint64_t kMaxIconFileSize = 16 << 20;

class InputFile;

// Reads and checks an .ico file.
bool ReadIconFile(const InputFile& file, std::vector<IconImage>& images, std::string& error);
bool ParseIconFile(const std::vector<uint8_t>& file, std::vector<IconImage>& images,
                   std::string& error);

// RT_ICON 1 to n, one per image, and the RT_GROUP_ICON group_name that lists them.
std::vector<Resource> IconResources(const std::vector<IconImage>& images,
                                    const ResourceKey& group_name, uint16_t language);

// One entry of an RT_GROUP_ICON, as check shows it.
struct IconGroupEntry {
  uint32_t width = 0;
  uint32_t height = 0;
  uint16_t bit_count = 0;
  uint32_t size = 0;
  uint16_t id = 0;  // the RT_ICON that holds the image
  bool png = false; // the image is a PNG (filled in by whoever reads the RT_ICON)
};

// Whether an image's first bytes are a PNG's signature.
bool StartsAsPng(const uint8_t* bytes, size_t size);

// False when data is no icon group (too short for what it says it lists).
bool ParseIconGroup(const std::vector<uint8_t>& data, std::vector<IconGroupEntry>& entries);
