// The setup cabinet's format: a cabinet ("MSCF", version 1.3) with one folder that holds one
// file, "setup.exe", compressed with LZX (our own encoder, the shipped form), MSZIP (zlib's
// deflate in the cabinet's blocks) or not at all. The writer is pure: it reads the file through a
// CabinetInput and emits the cabinet through a CabinetOutput, holding no more of it than its
// compressor needs, so that the same code writes the same bytes on every platform the packer is
// built for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// FILE_ATTRIBUTE_ARCHIVE: what a freshly built program carries on Windows.
constexpr uint32_t kSetupAttributes = 0x20;
// Cabinet times are DOS times, which start in 1980 and end in 2107.
constexpr int64_t kEarliestCabinetTime = 315532800;  // 1980-01-01 00:00:00 UTC
constexpr int64_t kLatestCabinetTime = 4354819198;   // 2107-12-31 23:59:58 UTC
// A folder holds at most 65535 data blocks of 32 KiB: the most that one cabinet file can carry.
constexpr uint64_t kMaxCabinetFileSize = 0x7FFF8000;

// The file's bytes, front to back: each call asks for exactly the next size bytes.
class CabinetInput {
 public:
  virtual bool Read(uint8_t* buffer, size_t size, std::string& error) = 0;

 protected:
  ~CabinetInput() = default;
};

// Where the cabinet goes. It is appended front to back; only its total size, known at the end,
// is then written over the placeholder that the header held.
class CabinetOutput {
 public:
  virtual bool Append(const uint8_t* data, size_t size, std::string& error) = 0;
  virtual bool Overwrite(uint64_t offset, const uint8_t* data, size_t size, std::string& error) = 0;

 protected:
  ~CabinetOutput() = default;
};

// How the folder's data is compressed. LZX's window is 2^window_bits bytes (15 to 21).
struct CabinetCompression {
  enum class Method { kNone, kMszip, kLzx };
  Method method = Method::kLzx;
  int window_bits = 21;
};

// The folder's compression type as the cabinet's header holds it: 0 none, 1 MSZIP, 3 LZX with
// the window's exponent in the high byte.
uint16_t CompressionType(const CabinetCompression& compression);

// Writes the cabinet of a file of file_size bytes read from input. unix_time (seconds, UTC, in
// the DOS range above) becomes the file's date and time, written as UTC fields. On failure
// returns false with the reason in error; what was emitted by then is no cabinet.
bool WriteCabinet(uint64_t file_size, int64_t unix_time, const CabinetCompression& compression,
                  CabinetInput& input, CabinetOutput& output, std::string& error);
