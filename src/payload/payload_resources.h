// The payload's facts as the stub holds them: the shared resource types, names and errors of
// lumora/payload_resources.h, and the one comparison of a recorded type that the stub needs.
#pragma once

#include <stdint.h>

#include "base/bounded_string.h"
#include "lumora/payload_resources.h"

// The payload types' names, by the names the stub's steps use for them.
inline constexpr const AsciiText<3>& kPackedType = PayloadTypeName(PayloadType::kPacked);
inline constexpr const AsciiText<3>& kCabinetType = PayloadTypeName(PayloadType::kCabinet);
inline constexpr const AsciiText<3>& kPlainType = PayloadTypeName(PayloadType::kPlain);

// Resource types compare exactly, unit by unit: a recorded type is one of the payload's types,
// copied as it stands.
inline bool SameResourceType(const ResourceTypeBuffer& type, const AsciiText<3>& other) {
  for (uint32_t i = 0; i < type.capacity; ++i) {
    if (type.text[i] != other.wide[i]) return false;
    if (other.wide[i] == 0) return true;
  }
  return false;
}
