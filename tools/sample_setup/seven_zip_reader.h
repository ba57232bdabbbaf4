// Reads the 7z archives that the sample setup program installs from, through Windows: the subset
// and the checks of seven_zip_parser.h, with the archive read from an open file. Every offset and
// size comes from the file and is checked against the file before it is used, and every CRC that
// the archive gives is checked against the bytes it covers before those bytes are trusted: the
// start header's and the header's before parsing, a file's while it is written (under a temporary
// name, which takes the file's place only once its CRC has passed), and a folder CRC that spans
// several files before any of them is written.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "crc32.h"
#include "safe_entry_name.h"
#include "seven_zip_parser.h"

// Lists the archive's folders and entries.
SevenZipStatus ReadSevenZip(HANDLE archive, SevenZipListing& listing);

// Reads a small entry whole, checking its CRCs; refuses (kUnsupported) one above max_size bytes.
SevenZipStatus ReadEntryBytes(HANDLE archive, const SevenZipListing& listing,
                              const SevenZipEntry& entry, size_t max_size, std::string& bytes);

// Writes every entry below directory (which ends in a backslash), creating the directories that
// entries name and replacing files of the same names. A file whose CRC does not match ends the
// extraction without replacing anything; so does a folder whose CRC does not match, before any of
// its files is written.
SevenZipStatus ExtractSevenZip(HANDLE archive, const SevenZipListing& listing,
                               const std::wstring& directory);

// An entry's name for Windows calls: the same UTF-16 units in the platform's wide string.
std::wstring WideName(const SevenZipEntry& entry);
