// The rule by which the installer passes the arguments that it was itself started with on to a
// setup program: everything after its own program name, verbatim. Kept apart from the launch,
// which needs Windows, so that the rule builds and is checked without it.
#pragma once

#include "base/bounded_string.h"

// Appends to command what follows the program name in command_line, verbatim. A quoted name ends
// at its closing quote (an unclosed one swallows everything), an unquoted one at the first space
// or tab; a blank that follows the name is kept, and an argument glued to a closing quote gets one
// space before it. A tail that does not fit is left out whole (the inserted space may stay):
// the setup program still runs, only without the installer's arguments.
void AppendInvocationTail(CommandBuffer& command, const wchar_t* command_line);
