#include "payload/shipped_setup_program.h"

#include <algorithm>
#include <vector>

#include "pe/pe_image.h"
#include "resources/resource_listing.h"
#include "resources/version_info.h"

namespace {

// A version block is at most 64 KiB; one that claims more is not read.
constexpr uint32_t kLargestVersionBlock = 0xFFFF;

}  // namespace

bool IsShippedSetupProgram(const ByteSource& program) {
  PeImage image;
  std::vector<Resource> listing;
  std::string error;
  if (!ReadPeImage(program, image, error) || !ReadResourceListing(image, program, listing, error)) {
    return false;
  }
  for (const Resource& r : listing) {
    if (!HasId(r.type, kRtVersion)) continue;
    std::vector<uint8_t> block(std::min(r.size, kLargestVersionBlock));
    VersionSummary summary;
    if (r.loaded == MappedBytes::kUnmapped ||
        !image.ReadLoaded(program, r.data_rva, block.data(), block.size(), error) ||
        !ReadVersionBlock(block, summary)) {
      return false;
    }
    for (const auto& [key, text] : summary.texts) {
      if (key == u"InternalName") return text == kShippedSetupInternalName;
    }
    return false;
  }
  return false;
}
