// A number as decimal text, for the names the setup program makes (its staging folder, a child's
// command line). Written here rather than taken from std::to_wstring, which formats through the C
// runtime's printf: mingw's own printf would add some 30 KB to the program.
#pragma once

#include <string>

std::wstring DecimalText(unsigned long long value);
