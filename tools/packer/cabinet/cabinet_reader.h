// Reading a whole cabinet as the stub's expansion will: first the stub's own check of it (the
// shared rules), then its header, folders and files, the
// first file (the one the stub expands into setup.exe) and that it does not continue from
// another cabinet, its folder's compression, and the first file expanded in full, every data
// block on the way checked against its checksum. The expansion goes through the decoders of the
// platform the packer runs on: libmspack on Linux (the decoders cabextract uses), the system's
// own cabinet library through FDI on Windows, the very library the stub calls. A cabinet that
// the reader cannot expand whole is one the stub's expansion fails on (EXIT_SETUP_UNPACK_FAILED).
//
// The stub expands only the first file and stops there, so a damaged second file, or blocks of
// the folder beyond the first file's end, do not fail it; they do not fail the reader either.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/byte_source.h"
#include "cabinet/cabinet_format.h"

struct CabinetFacts {
  // The shared rules (lumora/setup_cabinet_rules.h) refuse it: the stub hands it to no cabinet
  // library, and the reader expands nothing.
  bool malformed = false;
  bool headers_read = false;  // a cabinet header, its folders and its files' entries
  uint16_t folders = 0;
  uint16_t files = 0;
  uint16_t flags = 0;           // of the header: previous or next cabinet, reserved fields
  // The first file's entry and its folder.
  std::string first_file_name;  // as stored (UTF-8 or the cabinet's code page)
  uint32_t first_file_size = 0;
  uint16_t first_file_attributes = 0;
  uint16_t compression = 0;     // typeCompress of the first file's folder
  // The expansion: whether the first file came out whole, and its bytes (all of them up to
  // kKeptExpansion; beyond that, the count only).
  bool expanded = false;
  uint64_t expanded_size = 0;
  std::vector<uint8_t> first_file;
  // Why the stub's expansion fails on this cabinet; empty when it expands.
  std::string failure;
};

// The most of an expanded file kept in memory for reading it as a program; a setup program
// larger than this is judged by its headers and imports as far as they lie within it.
constexpr uint64_t kKeptExpansion = 256u << 20;

// Reads the cabinet and expands its first file; facts.expanded says whether that worked, and
// facts.failure why not. Reads nothing but through the source, which it never reopens.
void ReadCabinet(const ByteSource& cabinet, CabinetFacts& facts);
