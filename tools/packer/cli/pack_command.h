// "lumora-pack pack": attaches an archive and a setup program to a copy of the bare stub as the
// payload resources it reads, refusing any layout the stub would reject.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "resources/application_face.h"
#include "lumora/payload_resources.h"
#include "archive/seven_zip_writer.h"
#include "cabinet/cabinet_writer.h"

// Whether pack shows how far the writing has come: on its own when standard error is a terminal
// and the payload is large, or as asked.
enum class ProgressMode { kAuto, kOn, kOff };

// The payload size from which pack shows its progress on a terminal without being asked.
constexpr uint64_t kProgressFrom = uint64_t{64} << 20;

// The payload options as the stub will see them, made once by the command line's parsing from the
// options' texts: the storage types, the members' names as stored, the previous version.
struct PackPayload {
  PayloadType archive_type = PayloadType::kPacked;
  PayloadType setup_type = PayloadType::kCabinet;
  std::u16string archive_name, setup_name;
  std::u16string previous_version;  // when has_previous_version
};

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
  bool has_cabinet_compression = false;    // --cabinet-compression was given
  CabinetCompression cabinet_compression;  // for a BL setup program
  std::string output;
  // --update-from: the previous release's full installer, against which this one is an update;
  // --allow-large-update writes an update larger than half the full installer.
  std::string update_from;
  bool allow_large_update = false;
  // When --archive names a folder: the archive's time, the cabinet's when one is given.
  ArchiveSettings archive_settings;
  // The application's face, each empty when not given: an .ico file in place of the stub's
  // icon, and the version resource's texts and numbers.
  std::string icon;
  FaceOptions face;
  // What pack prints: the report of what was written as text or as JSON, or nothing; and its
  // progress on standard error.
  bool json = false;
  bool quiet = false;
  ProgressMode progress = ProgressMode::kAuto;
  PackPayload payload;  // from the texts above, once they are checked
};

// The names a release engineer gets without naming anything: those of the shipped installer,
// and for the other setup storages a name that says what the file is.
std::string DefaultArchiveName();
std::string DefaultSetupName(PayloadType setup_type);

// Packs options as the command line's parsing leaves them (stub, archive, setup program and output
// all named, every value checked); on success prints the installer's report to out (as the
// options ask). What does not refuse but is likely a mistake (a setup program that needs DLLs
// Windows does not carry, an archive that is a Windows program, a patch without a previous
// version) goes to err as warnings, one line each, and into the JSON report. Returns false with
// the reason in error and leaves nothing at the output path; with --json, out then holds a JSON
// object with the reason and the warnings found so far.
bool RunPack(const PackOptions& options, std::ostream& out, std::ostream& err,
             std::string& error);
