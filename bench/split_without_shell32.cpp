// Linked into the stub images of bench/ that leave shell32 out: the slot through which the
// installer's code calls CommandLineToArgvW (the headers declare it imported, so the code calls
// through __imp_CommandLineToArgvW) holds the benchmark's own splitter instead of shell32's
// export. Nothing of the installer's code changes; with no import left from shell32, the image
// does not name it and the loader never maps it or the libraries it brings.
#include "command_line_split.h"

extern "C" {
wchar_t**(WINAPI* __imp_CommandLineToArgvW)(const wchar_t*, int*) = &SplitCommandLine;
}
