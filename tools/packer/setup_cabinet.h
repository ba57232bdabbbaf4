// The setup program compressed into a cabinet, as the stub's "BL" member holds it: one MSZIP
// folder with one file named "setup.exe". The stub expands it with the system cabinet library
// and gives the new file the cabinet's attributes and time.
#pragma once

#include <cstdint>
#include <string>

// FILE_ATTRIBUTE_ARCHIVE: what a freshly built program carries on Windows.
constexpr uint32_t kSetupAttributes = 0x20;
// Cabinet times are DOS times, which start in 1980 and end in 2107.
constexpr int64_t kEarliestCabinetTime = 315532800;  // 1980-01-01 00:00:00 UTC
constexpr int64_t kLatestCabinetTime = 4354819198;   // 2107-12-31 23:59:58 UTC

// Writes the cabinet to cabinet_path. unix_time (seconds, UTC) becomes the file's date and time,
// clamped to what a cabinet can hold; the fields are written as UTC so that the same inputs give
// the same cabinet whatever the packing machine's time zone.
bool WriteSetupCabinet(const std::string& setup_path, int64_t unix_time,
                       const std::string& cabinet_path, std::string& error);

int64_t ClampCabinetTime(int64_t unix_time);
