// The CRC-32 that 7z archives carry for their headers and data (the polynomial of zip and PNG,
// reflected, 0xEDB88320), computed in pieces: pass the previous result to continue a run.
#pragma once

#include <cstddef>
#include <cstdint>

uint32_t Crc32(uint32_t crc, const void* data, size_t size);
