// Expands a cabinet held in memory with libmspack, the decoder behind cabextract: its cabinet
// reader checks each data block's checksum and sizes, and its LZX decoder checks that no match
// runs past a frame or reaches before the start. Shared by the encoder's tests and its fuzzing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cabinet/lzx/frame_stream.h"

// The cabinet's first file, or false with libmspack's complaint in error.
bool ExpandWithLibmspack(const std::vector<uint8_t>& cabinet, std::vector<uint8_t>& file,
                         std::string& error);

// The LZX encoder's frames of a file of size bytes put in a cabinet of one folder and one file
// as they are, without checksums (0: none), so that they reach the decoder exactly as the
// encoder made them.
std::vector<uint8_t> CabinetOfFrames(const std::vector<lzx::Frame>& frames, size_t size,
                                     int window_bits);
