// The installation is written into a staging folder beside its place and moved there only once
// every file has been decoded and has passed its CRC, so that a damaged archive, a full disk or a
// method it cannot decode leaves nothing half-written where the application will be looked for.
#pragma once

#include <string>

#include "decode/byte_source.h"
#include "seven_zip/archive.h"
#include "seven_zip/install_check.h"

// Writes every directory and file of the archive below staging (a directory that exists, without
// a trailing backslash), each file as it is decoded, then gives files and directories the
// attributes the archive records (read-only, hidden, system, archive, not indexed).
SevenZipStatus StageArchive(ArchiveSource& source, const SevenZipArchive& archive,
                            const std::wstring& staging);

// Moves what staging holds into target, replacing files of the same names; a file that is this
// very program (the installed setup program reinstalling its own version) is left as it is.
bool MergeTree(const std::wstring& staging, const std::wstring& target);

// Deletes a directory and everything below it, read-only files included; a reparse point below
// it is removed as a link, never followed.
void RemoveTree(const std::wstring& directory);

// Creates every missing directory of an absolute path such as C:\a\b.
bool CreateDirectoryPath(const std::wstring& path);
