// Reading an installer back: its payload layout, its previous version, its other resources, the
// state of its headers, and what the stub would make of it. Used by "lumora-pack check" and after
// every pack, so that what was written is read back the way the stub will read it.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "payload_rules.h"
#include "resource_listing.h"

struct PayloadMember {
  std::string type;
  ResourceKey name;
  uint16_t language = 0;
  uint32_t size = 0;
  uint32_t rva = 0;
  bool mapped = false;
  uint64_t file_offset = 0;
};

struct InstallerReport {
  std::string path;
  uint64_t file_size = 0;
  bool pe32_plus = false;
  uint64_t overlay = 0;            // bytes after the last section's raw data
  uint32_t signature_offset = 0;   // the certificate table's file offset, 0 when unsigned
  uint32_t signature_size = 0;     // ... and its size
  uint32_t stored_checksum = 0;
  uint32_t computed_checksum = 0;
  bool checksum_computed = false;
  std::string resource_section;    // name of the section holding the resource directory
  std::vector<PayloadMember> payload;  // every resource under "B7", "BL" and "BN"
  bool has_previous_version = false;   // RT_RCDATA 1 exists
  bool previous_version_valid = false; // ... and the stub would take it
  uint32_t previous_version_size = 0;
  std::u16string previous_version;     // up to its terminator
  std::vector<ListedResource> others;  // everything else, in directory order
  PayloadVerdict verdict;
  // A fault of the image itself, apart from the payload, that makes it unfit to ship (a
  // certificate table that is not in the file); empty when there is none.
  std::string image_fault;

  bool accepted() const { return image_fault.empty() && verdict.accepted(); }
};

// Reads the installer at path. compute_checksum reads the whole file once more; the packer,
// which has just computed it while writing, skips that.
bool InspectInstaller(const std::string& path, InstallerReport& report, std::string& error,
                      bool compute_checksum = true);
void PrintReport(const InstallerReport& report, std::ostream& out);
// "lumora-pack check": 0 when the stub would accept the installer, 1 when it would not, 2 when
// the file cannot be read as a PE image.
int RunCheck(const std::string& path, std::ostream& out, std::ostream& err);
