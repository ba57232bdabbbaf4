// The LZMA SDK's decoder (Debian's lzma-dev) for the fuzzing tree, compiled by its C++ compiler
// with the harness's sanitizers and coverage, with the C linkage the setup program's decoder
// declares it with.
extern "C" {
#include "LzmaDec.c"
}
