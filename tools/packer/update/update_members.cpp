#include "update/update_members.h"

#include "cabinet/cabinet_reader.h"
#include "pe/program_image.h"
#include "update/release_tree.h"
#include "update/update_maker.h"

namespace {

// The setup program the new release installs as setup.exe: the file, or what its cabinet
// expands to.
bool ReadNewSetup(const ByteSource& setup, std::vector<uint8_t>& program, std::string& error) {
  if (DescribeFile(setup).kind == FileKind::kCabinet) {
    CabinetFacts cabinet;
    ReadCabinet(setup, cabinet);
    if (!cabinet.expanded || cabinet.expanded_size != cabinet.first_file.size()) {
      error = "the setup cabinet " + setup.path() + " cannot be expanded";
      return false;
    }
    program = std::move(cabinet.first_file);
  } else {
    program.resize(static_cast<size_t>(setup.size()));
    if (!setup.ReadAt(0, program.data(), program.size(), error)) return false;
  }
  const ProgramFacts facts = DescribeFile(MemorySource("setup.exe", program));
  if (!facts.IsWindowsX64Program()) {
    error = "the setup program " + setup.path() + " is " + facts.Describe() +
            ", not a 64-bit Windows program";
    return false;
  }
  return true;
}

}  // namespace

bool MakeUpdateMembers(const std::string& previous_path, const ByteSource& new_archive,
                       const ByteSource& new_setup, UpdateMembers& members, std::string& error) {
  PreviousRelease previous;
  std::vector<uint8_t> setup_program;
  ReleaseTree new_tree;
  TreeFault fault = TreeFault::kNone;
  if (!ReadPreviousRelease(previous_path, previous, error) ||
      !ReadNewSetup(new_setup, setup_program, error)) {
    return false;
  }
  if (!ReadSevenZipTree(new_archive, new_tree, fault, error)) {
    error = "the new release's archive cannot be read: " + error;
    return false;
  }
  members.previous_version = previous.version;
  if (!MakeSetupPatch(previous.setup_program, setup_program, members.setup_patch,
                      members.setup_patched, error) ||
      !delta::WritePatchArchive(previous.tree, new_tree, members.data_patch, members.counts,
                                error)) {
    error = "the update cannot be made: " + error;
    return false;
  }
  return true;
}
