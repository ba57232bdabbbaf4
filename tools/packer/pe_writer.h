// Writing the packed installer: the stub's headers and sections unchanged, followed by one new
// last section that holds the whole new resource directory and its data. The old resource
// section stays where it is (sections must stay contiguous in memory), no longer referenced.
// Whatever followed the stub's last section (an overlay, a signature) is left out, so that the
// installer can be signed afterwards.
#pragma once

#include <string>

#include "file_io.h"
#include "pe_image.h"
#include "resource_tree.h"

// The name of the section that carries the resources in a packed installer.
constexpr char kPayloadSectionName[] = ".payload";

// Checks that the stub can take one more section, and gives the RVA that section will have.
bool PlanPayloadSection(const PeImage& stub, uint32_t& section_rva, std::string& error);

// Writes the installer to output_path through a temporary file; nothing appears under
// output_path unless the whole installer was written.
bool WritePackedImage(const PeImage& stub, const InputFile& stub_file, uint32_t section_rva,
                      const ResourceSection& resources, const std::string& output_path,
                      std::string& error);
