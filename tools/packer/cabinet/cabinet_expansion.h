// The one part of reading a cabinet that each platform does with its own library: expanding the
// first file. cabinet_expansion_mspack.cpp (Linux) drives libmspack's cabinet decompressor,
// cabinet_expansion_fdi.cpp (Windows) the system cabinet library's FDI, the library the stub
// uses. Both read the cabinet only through the source and keep the expanded bytes in memory.
#pragma once

#include <string>

#include "platform/byte_source.h"
#include "cabinet/cabinet_reader.h"

// Expands the first file of the cabinet whose headers facts describes into facts.first_file (up
// to kKeptExpansion bytes) and facts.expanded_size; false with the decoder's reason.
bool ExpandFirstFile(const ByteSource& cabinet, CabinetFacts& facts, std::string& failure);
