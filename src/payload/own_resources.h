// The installer's own resource directory, checked with the shared rules (lumora/resource_directory.h)
// before anything reads a resource from it: the previous version at the start of the run, the
// payload's enumeration after. A directory that breaks them may send the loader's lookups
// outside the image (a data entry beyond it crashes the first reader) or make them find other
// resources than check found in the file.
#pragma once

#include <windows.h>

// True when the image of module (mapped by the loader) has a resource directory that the shared
// rules accept, or none at all.
bool OwnResourcesAreSound(HMODULE module);
