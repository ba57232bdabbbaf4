// The PE format as the packer reads and rewrites it: the offsets of the fields it touches, and
// the page the loader maps in. The reader and the writer both take their offsets from here, so
// that a field has one offset in the whole packer.
#pragma once

#include <cstdint>

#include "platform/byte_order.h"

// The loader maps images in pages of this size; payload members and, in a packed installer,
// every section start on one in the file.
constexpr uint32_t kPageSize = 4096;

inline uint64_t AlignUp(uint64_t value, uint64_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

// The DOS header: its magic and where the NT headers begin.
constexpr uint32_t kDosHeaderSize = 64;
constexpr uint16_t kDosMagic = 0x5A4D;  // "MZ"
constexpr uint32_t kDosNtHeadersOffset = 60;  // e_lfanew

// The NT headers: "PE\0\0", the file header, the optional header.
constexpr uint32_t kPeSignature = 0x00004550;
constexpr uint32_t kPeSignatureSize = 4;
constexpr uint32_t kFileHeaderSize = 20;
// Offsets within the file header.
constexpr uint32_t kFileMachine = 0;
constexpr uint32_t kFileNumberOfSections = 2;
constexpr uint32_t kFilePointerToSymbolTable = 8;
constexpr uint32_t kFileNumberOfSymbols = 12;
constexpr uint32_t kFileSizeOfOptionalHeader = 16;
constexpr uint32_t kFileCharacteristics = 18;

constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kCharacteristicsExecutable = 0x0002;  // IMAGE_FILE_EXECUTABLE_IMAGE
constexpr uint16_t kCharacteristicsDll = 0x2000;         // IMAGE_FILE_DLL

// Offsets within the optional header, the same in PE32 and PE32+ up to the subsystem.
constexpr uint32_t kOptionalMagic = 0;
constexpr uint32_t kOptionalSizeOfCode = 4;
constexpr uint32_t kOptionalSizeOfInitializedData = 8;
constexpr uint32_t kOptionalSizeOfUninitializedData = 12;
constexpr uint32_t kOptionalSectionAlignment = 32;
constexpr uint32_t kOptionalFileAlignment = 36;
constexpr uint32_t kOptionalSizeOfImage = 56;
constexpr uint32_t kOptionalSizeOfHeaders = 60;
constexpr uint32_t kOptionalCheckSum = 64;
constexpr uint32_t kOptionalSubsystem = 68;
// The data directories and, just before them, their count: PE32+ widens four fields to 64 bits.
constexpr uint32_t kOptionalDirectoriesPe32 = 96;
constexpr uint32_t kOptionalDirectoriesPe32Plus = 112;
constexpr uint32_t kDirectoryEntrySize = 8;
// The optional header up to and including the CheckSum field: what the reader needs first.
constexpr uint32_t kOptionalThroughCheckSum = kOptionalCheckSum + 4;

constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint16_t kSubsystemWindowsGui = 2;

// Data directory indexes.
constexpr uint32_t kDirectoryImport = 1;
constexpr uint32_t kDirectoryResource = 2;
constexpr uint32_t kDirectorySecurity = 4;  // its "address" is a file offset
constexpr uint32_t kDirectoryDebug = 6;
constexpr uint32_t kDirectoryLoadConfiguration = 10;

// Section headers.
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kSectionName = 0;
constexpr uint32_t kSectionNameSize = 8;
constexpr uint32_t kSectionVirtualSize = 8;
constexpr uint32_t kSectionVirtualAddress = 12;
constexpr uint32_t kSectionSizeOfRawData = 16;
constexpr uint32_t kSectionPointerToRawData = 20;
constexpr uint32_t kSectionCharacteristics = 36;

constexpr uint32_t kSectionCode = 0x00000020;             // IMAGE_SCN_CNT_CODE
constexpr uint32_t kSectionInitializedData = 0x00000040;  // IMAGE_SCN_CNT_INITIALIZED_DATA
constexpr uint32_t kSectionUninitializedData = 0x00000080;  // IMAGE_SCN_CNT_UNINITIALIZED_DATA
constexpr uint32_t kSectionMemoryExecute = 0x20000000;    // IMAGE_SCN_MEM_EXECUTE
constexpr uint32_t kSectionMemoryRead = 0x40000000;       // IMAGE_SCN_MEM_READ
constexpr uint32_t kSectionMemoryWrite = 0x80000000;      // IMAGE_SCN_MEM_WRITE

// Debug directory entries: the data's RVA (0 when it is not mapped) and its file offset.
constexpr uint32_t kDebugEntrySize = 28;
constexpr uint32_t kDebugSizeOfData = 16;
constexpr uint32_t kDebugAddressOfRawData = 20;
constexpr uint32_t kDebugPointerToRawData = 24;

// Import descriptors: a table of them ends with an all-zero one.
constexpr uint32_t kImportDescriptorSize = 20;
constexpr uint32_t kImportName = 12;

// The load configuration record: its own size, and the flags the loader applies to the static
// imports' own dependencies.
constexpr uint32_t kLoadConfigurationSize = 0;
constexpr uint32_t kLoadConfigurationDependentLoadFlags = 0x4E;
constexpr uint16_t kLoadLibrarySearchSystem32 = 0x0800;

// Resource directories: tables of a header and entries, data entries, and length-prefixed names.
constexpr uint32_t kResourceTableHeaderSize = 16;
constexpr uint32_t kResourceTableNamedEntries = 12;
constexpr uint32_t kResourceTableIdEntries = 14;
constexpr uint32_t kResourceEntrySize = 8;
// The bytes one directory table takes: its header and its entries.
inline uint64_t ResourceTableBytes(uint64_t entries) {
  return kResourceTableHeaderSize + kResourceEntrySize * entries;
}
// In an entry, the high bit marks a name's offset (first word) or a subtable's (second word).
constexpr uint32_t kResourceHighBit = 0x80000000u;
constexpr uint32_t kResourceDataEntrySize = 16;
constexpr uint32_t kResourceDataRva = 0;
constexpr uint32_t kResourceDataSize = 4;
constexpr uint32_t kResourceDataCodepage = 8;
constexpr uint32_t kResourceNameLengthSize = 2;
