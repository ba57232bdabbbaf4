// The setup program compressed into a cabinet, as the stub's "BL" member holds it: one folder
// (LZX by default) with one file named "setup.exe". The stub expands it with the system cabinet
// library and gives the new file the cabinet's attributes and time.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_io.h"
#include "cabinet/cabinet_writer.h"
#include "platform/progress.h"

// Writes the cabinet of the setup program, the open file the packer checked, to cabinet_path,
// which appears only once it is complete. unix_time (seconds, UTC) becomes the file's date and
// time, clamped to what a cabinet can hold; the fields are written as UTC so that the same inputs
// give the same cabinet whatever the packing machine's time zone. progress, when given, hears how
// much of the setup program was read.
bool WriteSetupCabinet(const InputFile& setup, int64_t unix_time,
                       const CabinetCompression& compression, const std::string& cabinet_path,
                       std::string& error, Progress* progress = nullptr);

int64_t ClampCabinetTime(int64_t unix_time);
