// The 7z container as the packer writes it (7zFormat.txt in the LZMA SDK's documentation): a
// 32-byte start header that points at the archive's header at the end, the packed streams in
// between. Numbers in the header are 7z's variable-length integers; names UTF-16LE. The format's
// fixed numbers (signature, version, property ids, method ids) are the setup program's reader's
// own (seven_zip/format_ids.h, decode/folder.h), so that writer and reader share one definition;
// what only the writer decides is here.
#pragma once

#include <cstdint>

#include "decode/folder.h"
#include "seven_zip/format_ids.h"

namespace sevenzip {

using namespace seven_zip_format;

// Method identifiers as the header spells them: the id's bytes, most significant first.
constexpr uint8_t kLzmaMethod[3] = {static_cast<uint8_t>(kMethodLzma >> 16),
                                    static_cast<uint8_t>(kMethodLzma >> 8),
                                    static_cast<uint8_t>(kMethodLzma)};
constexpr uint8_t kX86BranchMethod[4] = {
    static_cast<uint8_t>(kMethodX86 >> 24), static_cast<uint8_t>(kMethodX86 >> 16),
    static_cast<uint8_t>(kMethodX86 >> 8), static_cast<uint8_t>(kMethodX86)};
constexpr uint8_t kBcj2Method[4] = {
    static_cast<uint8_t>(kMethodBcj2 >> 24), static_cast<uint8_t>(kMethodBcj2 >> 16),
    static_cast<uint8_t>(kMethodBcj2 >> 8), static_cast<uint8_t>(kMethodBcj2)};

// A coder's flag byte: the low four bits the identifier's length, and this bit when properties
// follow.
constexpr uint8_t kCoderHasProperties = 0x20;
// ...and this bit when the numbers of its input and output streams follow (not one and one).
constexpr uint8_t kCoderIsComplex = 0x10;

// The attributes the archive gives every entry: what Windows gives a new folder and a file a
// program wrote. The source tree's own (read-only bits, Unix modes) are not carried, so that the
// archive is the same from every checkout and on every system.
constexpr uint32_t kFolderAttributes = 0x10;  // FILE_ATTRIBUTE_DIRECTORY
constexpr uint32_t kFileAttributes = 0x20;    // FILE_ATTRIBUTE_ARCHIVE

}  // namespace sevenzip
