// Reading an installer back: its sections and their alignment, its payload layout, its previous
// version, its icon and version texts, its other resources, the state of its headers, and what
// the stub would make of it. Used by "lumora-pack check" and after every pack, so that what was
// written is read back the way the stub will read it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "signature/authenticode.h"
#include "resources/icon_file.h"
#include "payload/payload_layout.h"
#include "payload/update_facts.h"
#include "pe/pe_image.h"
#include "resources/version_info.h"

struct InstallerReport {
  std::string path;
  uint64_t file_size = 0;
  bool pe32_plus = false;
  uint64_t overlay = 0;            // bytes after the last section's raw data
  uint32_t signature_offset = 0;   // the certificate table's file offset, 0 when unsigned
  uint32_t signature_size = 0;     // ... and its size
  SignatureCheck signature;        // the signature checked against the file (not after pack)
  uint32_t stored_checksum = 0;
  uint32_t computed_checksum = 0;
  bool checksum_computed = false;
  std::string resource_section;    // name of the section holding the resource directory
  // The file layout: the loader maps an image from the file only where every section starts on
  // a page of the file as it does in memory.
  uint32_t file_alignment = 0;
  uint32_t size_of_headers = 0;
  std::vector<PeSection> sections;
  PayloadLayout layout;
  UpdateFacts update;  // an update's facts, when its archive member is a patch archive
  // What the shell shows of the installer: its first icon group and its version resource.
  bool has_icon = false;
  bool icon_readable = false;
  ResourceKey icon_group;
  std::vector<IconGroupEntry> icons;
  bool has_version = false;
  bool version_readable = false;
  VersionSummary version;
  // The certificate table (the signature) does not lie within the file after the sections: no
  // signing tool or signature check can read it.
  bool signature_malformed = false;
  // A fault of the image itself, apart from the payload, that makes it unfit to ship (the
  // certificate table above; a resource directory the loaded image does not hold); empty when
  // there is none.
  std::string image_fault;

  bool accepted() const { return image_fault.empty() && layout.verdict.accepted(); }
  // Headers and every section's file data start on pages of the file.
  bool PageAligned() const;
};

// "0x1A2B", as reports show offsets and checksums.
std::string HexText(uint64_t value);
// Whether a section's file data starts on a page (a section without file data has no start).
bool StartsOnPage(const PeSection& section);

// Reads the installer at path. compute_checksum reads the whole file once more, and checks a
// signature against it; the packer, which has just computed the checksum while writing an
// unsigned file, skips both.
bool InspectInstaller(const std::string& path, InstallerReport& report, std::string& error,
                      bool compute_checksum = true);
