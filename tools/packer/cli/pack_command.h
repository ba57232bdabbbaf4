// "lumora-pack pack": attaches an archive and a setup program to a copy of the bare stub as the
// payload resources it reads, refusing any layout the stub would reject.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "application_face.h"
#include "mszip_cabinet.h"

struct PackOptions {
  std::string stub;
  std::string archive;
  std::string archive_type = "B7";
  std::string archive_name;  // empty: the default for the layout
  std::string setup;
  std::string setup_type = "BL";
  std::string setup_name;
  bool has_previous_version = false;
  std::string previous_version;
  bool has_cabinet_time = false;  // from --cabinet-time or SOURCE_DATE_EPOCH
  int64_t cabinet_time = 0;       // seconds since 1970, UTC
  CabinetCompression cabinet_compression;  // for a BL setup program
  std::string output;
  // The application's face, each empty when not given: an .ico file in place of the stub's
  // icon, and the version resource's texts and numbers ("1.2.3.4").
  std::string icon;
  FaceOptions face;
};

// The names a release engineer gets without naming anything: those of the shipped installer,
// and for the other setup storages a name that says what the file is.
std::string DefaultArchiveName();
std::string DefaultSetupName(const std::string& setup_type);

// Packs options as the command line's parsing leaves them (stub, archive, setup program and output
// all named); on success prints the installer's layout to out. Returns false with the reason in
// error and leaves nothing at the output path.
bool RunPack(const PackOptions& options, std::ostream& out, std::string& error);
