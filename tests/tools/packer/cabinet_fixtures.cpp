// lumora-cabinet-fixtures DIRECTORY: writes each case's setup program (CASE.bin) and the setup
// cabinet that the packer makes of it in each compression (COMPRESSION-CASE.cab) into
// DIRECTORY, which must exist. The Windows tests expand these with the system cabinet library:
// the packer's own cabinets, not a copy of its writer built for Windows.
#include <cstdio>
#include <set>
#include <string>

#include "cabinet_cases.h"
#include "platform/file_io.h"
#include "cabinet/setup_cabinet.h"

namespace {

bool WriteCase(const cabinet_cases::Compression& compression, const cabinet_cases::Case& c,
               const std::string& directory, std::set<std::string>& written, std::string& error) {
  const std::string setup = directory + "/" + c.name + ".bin";
  if (written.insert(c.name).second) {
    const std::vector<uint8_t> bytes = cabinet_cases::Bytes(c);
    StagedFile file;
    if (!file.Create(setup, error) || !file.Write(bytes.data(), bytes.size(), error) ||
        !file.Commit(error)) {
      return false;
    }
  }
  // The setup program is handed on open, as pack hands it.
  InputFile program;
  return program.Open(setup, error) &&
         WriteSetupCabinet(program, c.time, compression.value,
                           directory + "/" + compression.name + "-" + c.name + ".cab", error);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: lumora-cabinet-fixtures DIRECTORY\n");
    return 2;
  }
  std::set<std::string> written;
  for (const cabinet_cases::Compression& compression : cabinet_cases::Compressions()) {
    for (const cabinet_cases::Case& c : cabinet_cases::CasesFor(compression)) {
      std::string error;
      if (!WriteCase(compression, c, argv[1], written, error)) {
        std::fprintf(stderr, "lumora-cabinet-fixtures: %s\n", error.c_str());
        return 1;
      }
    }
  }
  return 0;
}
