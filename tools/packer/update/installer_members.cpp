#include "update/installer_members.h"

#include <algorithm>

#include "cabinet/cabinet_reader.h"
#include "delta/archive/patch_archive_format.h"
#include "platform/file_io.h"

namespace {

bool ReadMember(const InputFile& file, const PayloadLayout& layout, PayloadType type,
                const std::u16string& name, std::vector<uint8_t>& bytes, std::string& error) {
  for (const Resource& r : layout.payload) {
    PayloadType found = PayloadType::kPacked;
    if (!r.type.named || !ParsePayloadType(r.type.name(), found) || found != type ||
        !r.name.named || r.name.name() != name) {
      continue;
    }
    if (!r.mapped || r.loaded != MappedBytes::kFromFile) {
      error = file.path() + ": a payload member does not lie within the file";
      return false;
    }
    bytes.resize(r.size);
    return r.size == 0 || file.ReadAt(r.file_offset, bytes.data(), r.size, error);
  }
  error = file.path() + ": the payload member the stub would take is not found";
  return false;
}

}  // namespace

bool IsPatchArchive(const std::vector<uint8_t>& bytes) {
  return bytes.size() >= sizeof(delta::kPatchMagic) &&
         std::equal(std::begin(delta::kPatchMagic), std::end(delta::kPatchMagic), bytes.begin());
}

bool ReadInstallerMembers(const std::string& path, InstallerMembers& members, std::string& error) {
  if (!InspectInstaller(path, members.report, error, /*compute_checksum=*/false)) return false;
  const PayloadVerdict& v = members.report.layout.verdict;
  if (!members.report.accepted() && !v.FolderBound()) {
    error = path + " is not an installer the stub accepts: " +
            (members.report.image_fault.empty() ? v.reason : members.report.image_fault);
    return false;
  }
  InputFile file;
  if (!file.Open(path, error)) return false;
  members.setup_type = v.setup_type;
  return ReadMember(file, members.report.layout, v.archive_type, v.archive_name, members.archive,
                    error) &&
         ReadMember(file, members.report.layout, v.setup_type, v.setup_name, members.setup, error);
}

bool ExpandSetupProgram(const InstallerMembers& members, std::vector<uint8_t>& program,
                        std::string& error) {
  switch (members.setup_type) {
    case PayloadType::kPlain:
      program = members.setup;
      return true;
    case PayloadType::kCabinet: {
      CabinetFacts cabinet;
      ReadCabinet(MemorySource("the setup cabinet", members.setup), cabinet);
      if (!cabinet.expanded || cabinet.expanded_size != cabinet.first_file.size()) {
        error = "its setup cabinet does not expand" +
                (cabinet.failure.empty() ? std::string() : " (" + cabinet.failure + ")");
        return false;
      }
      program = std::move(cabinet.first_file);
      return true;
    }
    case PayloadType::kPacked:
      break;
  }
  error = "its setup program is a patch (B7)";
  return false;
}
