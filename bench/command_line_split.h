// The benchmark's own command-line splitter (command_line_split.cpp): CommandLineToArgvW's
// interface and rules, without shell32.
#pragma once

#include <windows.h>

// As CommandLineToArgvW: the arguments of command_line in one block from LocalAlloc (release it
// with LocalFree), their number in *count; null on failure, with the reason in GetLastError().
wchar_t** WINAPI SplitCommandLine(const wchar_t* command_line, int* count);
