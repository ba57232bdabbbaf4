// Whether a setup program is the one we ship (lumora-setup.exe): the packer then knows what it
// makes of the archive, and judges the archive by the setup program's own rules. It is told by
// its version information, whose InternalName it sets to "lumora-setup"; a setup program of the
// application's own, renamed or not, is not judged.
#pragma once

#include "platform/byte_source.h"

constexpr char16_t kShippedSetupInternalName[] = u"lumora-setup";

// Reads the program's resource directory and its first version resource; false for anything
// that is not a program with that InternalName, or that cannot be read.
bool IsShippedSetupProgram(const ByteSource& program);
