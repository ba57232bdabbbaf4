// The suffix array of a file: the start of every suffix, in lexicographic order (a shorter
// suffix before the longer ones it begins). Built here by induced sorting (SA-IS) in linear
// time, so that the packer's Linux and Windows builds find the same matches and write the same
// delta; the array of a text is unique, so any correct construction gives the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace delta {

// Texts up to this size: positions are 32-bit.
constexpr size_t kMaxSuffixArrayText = 0x7fffffff;

// False when the text is larger than kMaxSuffixArrayText.
bool BuildSuffixArray(const uint8_t* text, size_t size, std::vector<int32_t>& suffixes);

}  // namespace delta
