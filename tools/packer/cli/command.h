// What one run of the packer is asked to do, as the command line's parsing leaves it.
#pragma once

#include <string>

#include "cli/archive_command.h"
#include "cli/check_command.h"
#include "cli/pack_command.h"

struct Command {
  enum Kind { kHelp, kManual, kVersion, kArchive, kPack, kCheck } kind = kHelp;
  std::string help_topic;  // "", "archive", "pack" or "check"
  ArchiveOptions archive;
  PackOptions pack;
  CheckOptions check;
};
