// Building a resource section: the directory of types, names and languages, the names, the data
// entries, then the data. Small data (the stub's own manifest and version block, the previous
// version) is held in memory and placed right after the directory; payload members are streamed
// from their files later, each starting on a page boundary of the section, so that with a
// page-aligned section the loader can map them from the file rather than read them into memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "pe/section_content.h"

// Lays out the resources for a section that starts at section_rva. Sorts them into directory
// order and completes each description as a reader of the section would find it: its size, its
// data's RVA, its type and name entries. Fails on a duplicate (type, name, language), on data of
// 4 GiB or more, or when the section would not fit the 32-bit address space.
bool BuildResourceSection(std::vector<Resource>& resources, uint32_t section_rva,
                          SectionContent& section, std::string& error);
