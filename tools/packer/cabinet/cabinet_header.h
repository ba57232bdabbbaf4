// What a cabinet's header says of how its first folder is compressed, for check's report: read
// from the cabinet's first bytes, whoever wrote it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The bytes to read from a cabinet's start to reach its first folder entry in any cabinet:
// the header, its largest reserved area and the names of a previous and a next cabinet.
constexpr size_t kCabinetHeaderReach = 36 + 4 + 65535 + 4 * 256 + 8;

// The first folder's compression type (0 none, 1 MSZIP, 2 Quantum, 3 LZX with the window's
// exponent in bits 8 to 12). False when bytes are no cabinet header or end before the entry.
bool ReadFolderCompression(const uint8_t* bytes, size_t size, uint16_t& type);

// "LZX, window 2^21 (2 MiB)", "MSZIP", "none", "Quantum", or the type in hexadecimal.
std::string CompressionTypeText(uint16_t type);
