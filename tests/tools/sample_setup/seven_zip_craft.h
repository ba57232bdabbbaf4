// 7z archives made by hand for the reader's tests: the header written property by property, and
// changes to 7-Zip's own archives that keep their CRCs matching, so that a test reaches the part
// of the reader behind the CRC checks.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "seven_zip/crc32.h"

namespace craft {

inline std::string ReadAll(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::wstring& path, const std::string& bytes) {
  std::ofstream(std::filesystem::path(path), std::ios::binary).write(bytes.data(), bytes.size());
}

// Flips the last byte of a file's data inside an archive that stores it uncompressed, found by the
// file's first 4 KiB: a change that every full chunk of the file is written before. False when the
// file's data is not found.
inline bool DamageLastByteOf(std::string& archive, const std::string& file) {
  const size_t at = archive.find(file.substr(0, 4096));
  if (at == std::string::npos) return false;
  archive[at + file.size() - 1] ^= 1;
  return true;
}

inline uint64_t Le64(const std::string& b, size_t at) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
  return v;
}

inline void PutLe(std::string& b, size_t at, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

inline uint32_t CrcOf(const std::string& bytes) { return Crc32(0, bytes.data(), bytes.size()); }

// Recomputes the header CRC and then the start-header CRC.
inline void FixStartCrc(std::string& b) { PutLe(b, 8, Crc32(0, b.data() + 12, 20), 4); }
inline void FixCrcs(std::string& b) {
  const size_t header = static_cast<size_t>(32 + Le64(b, 12));
  const size_t size = static_cast<size_t>(Le64(b, 20));
  PutLe(b, 28, Crc32(0, b.data() + header, size), 4);
  FixStartCrc(b);
}

// Replaces the last occurrence of a UTF-16 name in the header by another of the same length.
inline bool Rename(std::string& b, const std::u16string& from, const std::u16string& to) {
  if (from.size() != to.size()) return false;
  const std::string f(reinterpret_cast<const char*>(from.data()), from.size() * 2);
  const size_t at = b.rfind(f);
  if (at == std::string::npos) return false;
  b.replace(at, f.size(), reinterpret_cast<const char*>(to.data()), to.size() * 2);
  FixCrcs(b);
  return true;
}

// A header, property by property, in 7z's encoding.
struct Header {
  std::string bytes;

  Header& Byte(unsigned value) {
    bytes.push_back(static_cast<char>(value));
    return *this;
  }
  // The variable-length number: as many leading one bits in the first byte as bytes follow.
  Header& Number(uint64_t value) {
    int extra = 0;
    while (extra < 8 && value >= (uint64_t{1} << (7 * (extra + 1)))) ++extra;
    if (extra == 8) {
      Byte(0xFF);
    } else {
      const unsigned high = static_cast<unsigned>(value >> (8 * extra));
      Byte(((0xFF00u >> extra) & 0xFFu) | high);
    }
    for (int i = 0; i < extra; ++i) Byte(static_cast<unsigned>((value >> (8 * i)) & 0xFF));
    return *this;
  }
  Header& Uint32(uint32_t value) {
    for (int i = 0; i < 4; ++i) Byte((value >> (8 * i)) & 0xFF);
    return *this;
  }
  Header& Raw(const std::string& raw) {
    bytes += raw;
    return *this;
  }
  // A names property holding the given names, each terminated.
  Header& Names(const std::u16string& joined_with_zeros) {
    Number(0x11).Number(1 + 2 * joined_with_zeros.size()).Byte(0);
    for (char16_t unit : joined_with_zeros) Byte(unit & 0xFF).Byte(unit >> 8);
    return *this;
  }
};

// The whole file: start header, packed bytes, header, with both CRCs right.
inline std::string Archive(const std::string& packed, const std::string& header) {
  std::string b = std::string("7z\xBC\xAF\x27\x1C", 6) + std::string(26, '\0');
  PutLe(b, 12, packed.size(), 8);
  PutLe(b, 20, header.size(), 8);
  PutLe(b, 28, CrcOf(header), 4);
  FixStartCrc(b);
  return b + packed + header;
}

}  // namespace craft
