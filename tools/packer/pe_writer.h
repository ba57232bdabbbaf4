// Writing the packed installer: the stub's headers and sections unchanged, followed by one new
// last section that holds the whole new resource directory and its data. The old resource
// section stays where it is (sections must stay contiguous in memory), no longer referenced.
// Whatever followed the stub's last section (an overlay) is left out, so that the installer can
// be signed afterwards. The stub itself comes unsigned: the packer refuses a signed one.
#pragma once

#include <string>

#include "file_io.h"
#include "pe_image.h"
#include "resource_section.h"

// The name of the section that carries the resources in a packed installer.
constexpr char kPayloadSectionName[] = ".payload";

// Checks that the stub can take one more section, and gives the RVA that section will have.
bool PlanPayloadSection(const PeImage& stub, uint32_t& section_rva, std::string& error);

// Writes the installer into out, a freshly created output file, and leaves committing it to the
// caller, who reads it back first.
bool WritePackedImage(const PeImage& stub, const InputFile& stub_file, uint32_t section_rva,
                      const ResourceSection& resources, StagedFile& out, std::string& error);
