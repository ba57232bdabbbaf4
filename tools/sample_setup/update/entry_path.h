// A patch archive names files in UTF-8 with '/' between parts ("bin/app.dll"); the setup program
// reads and writes them below a folder of its own. Only names that stay below that folder, and
// that Windows takes for the file they spell (no device name, no trailing dot, no stream), become
// paths: the archive is untrusted input.
#pragma once

#include <string>

// folder\bin\app.dll for "bin/app.dll"; false for a name that is not one to write or read there.
bool EntryPath(const std::wstring& folder, const std::string& name, std::wstring& path);
