// Which names from an archive may become paths below the directory that an installation fills.
// A name is joined to that directory as it stands, so a hostile one could leave it ("..\x",
// "C:x", "\x"), open an alternate data stream ("a:s"), or name a file other than the one it
// spells: Windows drops trailing dots and spaces ("a." is "a"), and it opens a device instead of
// a file for CON, PRN, AUX, NUL, COM0-9 and LPT0-9 (also with the superscript digits 1, 2 and 3),
// CONIN$ and CONOUT$, with any extension and in any directory, so that "docs\NUL.txt" would be
// "written" into the null device and the installation would look complete without the file.
#pragma once

#include <string>

// True for a relative path of non-empty components separated by backslashes, none of them "."
// or "..", a device name or a name that Windows would alter, and without a drive, a stream name,
// characters that Windows refuses in names, or control characters.
bool IsSafeEntryName(const std::u16string& name);
