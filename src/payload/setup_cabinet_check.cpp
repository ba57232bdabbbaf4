#include "payload/setup_cabinet_check.h"

#include "lumora/setup_cabinet_rules.h"

namespace {

// The resource's bytes in the mapped image; the rules read only within its size.
struct MappedCabinet {
  const uint8_t* start;
  bool Read(uint32_t offset, uint8_t* out, uint32_t size) const {
    for (uint32_t i = 0; i < size; ++i) out[i] = start[offset + i];
    return true;
  }
};

}  // namespace

bool SetupCabinetIsSound(const ResourceBlob& cabinet) {
  const MappedCabinet bytes{cabinet.data};
  return CheckSetupCabinet(bytes, cabinet.size).fault == CabinetFault::kNone;
}
