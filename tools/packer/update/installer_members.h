// An installer's payload members as the stub would write them to disk: the archive and the setup
// program, each read whole from the installer's file, and the setup program as the installed
// setup.exe holds it (a "BL" cabinet expanded, a "BN" program as it is).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "payload/installer_report.h"
#include "lumora/payload_resources.h"

// The first bytes of a patch archive: an archive member that starts with them makes the
// installer an update.
bool IsPatchArchive(const std::vector<uint8_t>& bytes);

struct InstallerMembers {
  InstallerReport report;
  std::vector<uint8_t> archive;  // the archive member's bytes
  PayloadType setup_type = PayloadType::kCabinet;
  std::vector<uint8_t> setup;    // the setup member's bytes as stored
};

// Reads the installer at path as the stub would take it: refused (false, with the reason) when
// the stub would not run its setup program, or a member lies outside the file.
bool ReadInstallerMembers(const std::string& path, InstallerMembers& members, std::string& error);

// The setup program the stub writes as setup.exe, from a member stored as "BL" or "BN"; false
// for a "B7" patch, which only an installed setup program turns into one.
bool ExpandSetupProgram(const InstallerMembers& members, std::vector<uint8_t>& program,
                        std::string& error);
