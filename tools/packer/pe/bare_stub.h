// Telling the bare stub from any other image a release engineer might name by mistake (the
// setup program, a 32-bit or ARM64 build, another program of the build). Packing one of those
// writes an installer that cannot work, or one without the stub's defences. The bare stub is
// recognised by what its build makes it: a 64-bit (x64) executable for the GUI subsystem that
// imports from kernel32.dll, advapi32.dll and shell32.dll and nothing else (no C runtime, no DLL
// a planter could put beside it), whose load configuration keeps the dependencies of those DLLs
// in System32 (DependentLoadFlags = LOAD_LIBRARY_SEARCH_SYSTEM32).
#pragma once

#include <string>

#include "platform/file_io.h"
#include "pe/pe_image.h"

// False with the reason in error when image is not the bare stub; the reason begins with "is
// not the bare stub".
bool CheckBareStub(const PeImage& image, const InputFile& file, std::string& error);
