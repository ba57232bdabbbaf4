// lumora-cabinet-fixtures DIRECTORY: writes each case's setup program (NAME.bin) and the setup
// cabinet that the packer makes of it (NAME.cab) into DIRECTORY, which must exist. The Windows
// tests expand these with the system cabinet library: the packer's own cabinets, not a copy of
// its writer built for Windows.
#include <cstdio>
#include <string>

#include "cabinet_cases.h"
#include "file_io.h"
#include "setup_cabinet.h"

namespace {

bool WriteCase(const cabinet_cases::Case& c, const std::string& base, std::string& error) {
  const std::vector<uint8_t> bytes = cabinet_cases::Bytes(c);
  StagedFile setup;
  return setup.Create(base + ".bin", error) && setup.Write(bytes.data(), bytes.size(), error) &&
         setup.Commit(error) && WriteSetupCabinet(base + ".bin", c.time, CabinetCompression{CabinetCompression::Method::kMszip, 0}, base + ".cab", error);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: lumora-cabinet-fixtures DIRECTORY\n");
    return 2;
  }
  for (const cabinet_cases::Case& c : cabinet_cases::kCases) {
    std::string error;
    if (!WriteCase(c, std::string(argv[1]) + "/" + c.name, error)) {
      std::fprintf(stderr, "lumora-cabinet-fixtures: %s\n", error.c_str());
      return 1;
    }
  }
  return 0;
}
