// lumora-icon-fixture OUT.ico: writes the application icon that the Windows tree's installers
// carry, for the tests that read it back through Windows' own icon functions.
#include <cstdio>

#include "icon_fixture.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: lumora-icon-fixture OUT.ico\n");
    return 2;
  }
  const std::vector<uint8_t> bytes = IconFileBytes(ApplicationIcon());
  FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr) return 1;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  return std::fclose(out) == 0 && written ? 0 : 1;
}
