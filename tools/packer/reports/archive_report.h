// The application's archive in the reports: what it is, as the setup program we ship reads it
// (payload/archive_facts.h), one line of text and one JSON object.
#pragma once

#include <ostream>
#include <string>

#include "payload/archive_facts.h"

// "archive: 7z, LZMA:64m + BCJ, dictionary 64 MiB, 120 files and 14 folders, 35512345 bytes
// unpacked, in 1 block".
void PrintArchiveFacts(const ArchiveFacts& facts, std::ostream& out);

// {"format": "7z", "readable": true, "methods": ..., ...}.
std::string JsonArchiveFacts(const ArchiveFacts& facts);
