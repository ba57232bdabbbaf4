#include "pack_command.h"

#include <algorithm>
#include <vector>

#include "application_face.h"
#include "bare_stub.h"
#include "check_command.h"
#include "installer_report.h"
#include "file_io.h"
#include "payload_layout.h"
#include "payload_rules.h"
#include "pe_image.h"
#include "pe_writer.h"
#include "resource_listing.h"
#include "resource_section.h"
#include "utf_text.h"
#include "setup_cabinet.h"

namespace {

// Resource data as pack is about to write it: held in memory or in the member's file.
class PlannedData final : public ResourceData {
 public:
  bool Read(const Resource& r, uint64_t offset, uint8_t* out, size_t size,
            std::string& error) const override {
    if (offset + size > r.size) return false;
    if (r.file != nullptr) return r.file->ReadAt(offset, out, size, error);
    std::copy_n(r.bytes.begin() + static_cast<std::ptrdiff_t>(offset), size, out);
    return true;
  }
};

// A payload member, streamed from its file and starting on a page of its own.
Resource PayloadMember(const std::string& type, const std::u16string& name, const InputFile& file) {
  return StreamedResource(ResourceKey::Name(type.c_str()), ResourceKey::Name(name),
                          kPayloadLanguage, file);
}

bool PreviousVersionText(const std::string& text, size_t archive_name_units,
                         const std::string& archive_type, std::u16string& units,
                         std::string& error) {
  if (!Utf8ToUtf16(text, units)) {
    error = "the previous version is not valid UTF-8";
    return false;
  }
  return CheckPreviousVersion(units, archive_name_units, archive_type, error);
}

// An output path that names one of the inputs would replace it with the installer (or, for
// the stub, leave no bare stub to pack the next release from): each is refused alike.
bool CheckOutputIsNoInput(const std::string& output, const InputFile* const* inputs,
                          const char* const* words, size_t count, std::string& error) {
  for (size_t i = 0; i < count; ++i) {
    if (NamesOpenFile(output, *inputs[i])) {
      error = "the output " + output + " is the " + words[i] + " " + inputs[i]->path() +
              "; packing would replace it";
      return false;
    }
  }
  return true;
}

// Copies the stub's own resources (its manifest, version block, icons). In any image each
// resource's data has bytes of its own in the file, so together they cannot exceed the file;
// a directory that claims more points resources at the same bytes again, and copying each of
// them would turn a small stub into a huge installer.
bool CopyStubResources(const std::string& path, const InputFile& stub_file,
                       const std::vector<Resource>& listed, bool has_previous_version,
                       std::vector<Resource>& resources, std::string& error) {
  uint64_t total = 0;
  for (const Resource& r : listed) {
    if (r.type.named && IsPayloadType(r.type.name())) {
      error = path + " already carries payload resources (type " + KeyText(r.type) +
              "); pack the bare stub";
      return false;
    }
    if (has_previous_version && IsPreviousVersion(r)) {
      error = path + " already carries a previous version (RT_RCDATA 1)";
      return false;
    }
    if (!r.mapped) {
      error = path + ": resource " + KeyText(r.type) + "/" + KeyText(r.name) +
              " lies outside the file";
      return false;
    }
    total += r.size;
    if (total > stub_file.size()) {
      error = path + ": its resources claim more bytes than the file holds (" +
              std::to_string(total) + " of " + std::to_string(stub_file.size()) +
              "); several of them share their data";
      return false;
    }
    std::vector<uint8_t> bytes(r.size);
    if (r.size != 0 && !stub_file.ReadAt(r.file_offset, bytes.data(), r.size, error)) {
      return false;
    }
    Resource own = MemoryResource(r.type, r.name, r.language, std::move(bytes));
    own.codepage = r.codepage;
    resources.push_back(std::move(own));
  }
  return true;
}

bool OpenNonEmpty(const std::string& path, const char* what, InputFile& file, std::string& error) {
  if (!file.Open(path, error)) return false;
  if (file.size() == 0) {
    error = std::string("the ") + what + " " + path +
            " is empty; the stub treats an empty resource as missing";
    return false;
  }
  return true;
}

// The time given (--cabinet-time or SOURCE_DATE_EPOCH, both checked to lie within the cabinet's
// dates), else the setup file's own, which the cabinet writer brings within them.
int64_t CabinetTime(const PackOptions& options, const InputFile& setup) {
  return options.has_cabinet_time ? options.cabinet_time : setup.mtime();
}

}  // namespace

std::string DefaultArchiveName() { return kDefaultArchiveName.narrow; }

std::string DefaultSetupName(const std::string& setup_type) {
  if (setup_type == "BL") return kDefaultCabinetName.narrow;
  if (setup_type == "BN") return kDefaultPlainName.narrow;
  return kDefaultPatchName.narrow;
}

bool RunPack(const PackOptions& options, std::ostream& out, std::string& error) {
  if (!CheckPayloadType(options.archive_type, "archive", error) ||
      !CheckPayloadType(options.setup_type, "setup program", error)) {
    return false;
  }
  std::u16string archive_name, setup_name;
  if (!MakeMemberName(options.archive_name.empty() ? DefaultArchiveName() : options.archive_name,
                      Member::kArchive, options.archive_type, archive_name, error) ||
      !MakeMemberName(options.setup_name.empty() ? DefaultSetupName(options.setup_type)
                                                 : options.setup_name,
                      Member::kSetup, options.setup_type, setup_name, error)) {
    return false;
  }
  std::u16string previous_version;
  if (options.has_previous_version &&
      !PreviousVersionText(options.previous_version, archive_name.size(), options.archive_type,
                           previous_version, error)) {
    return false;
  }
  InputFile stub_file, archive, setup, icon;
  PeImage stub;
  std::vector<Resource> stub_resources;
  if (!OpenNonEmpty(options.stub, "stub", stub_file, error) ||
      !OpenNonEmpty(options.archive, "archive", archive, error) ||
      !OpenNonEmpty(options.setup, "setup program", setup, error) ||
      (!options.icon.empty() && !icon.Open(options.icon, error))) {
    return false;
  }
  const InputFile* const inputs[] = {&stub_file, &archive, &setup, &icon};
  const char* const words[] = {"stub", "archive", "setup program", "icon"};
  if (!CheckOutputIsNoInput(options.output, inputs, words, icon.IsOpen() ? 4 : 3, error) ||
      !ReadPeImage(stub_file, stub, error)) {
    return false;
  }
  if (!CheckBareStub(stub, stub_file, error)) {
    error = options.stub + " " + error;
    return false;
  }
  uint32_t signature_offset = 0, signature_size = 0;
  stub.Directory(kDirectorySecurity, signature_offset, signature_size);
  if (signature_offset != 0 || signature_size != 0) {
    error = options.stub + " is signed; its signature would not cover the installer. Pack the "
            "unsigned stub and sign the installer after packing";
    return false;
  }
  std::vector<Resource> resources;
  if (!ReadResourceListing(stub, stub_file, stub_resources, error) ||
      !CopyStubResources(options.stub, stub_file, stub_resources, options.has_previous_version,
                         resources, error) ||
      !ApplyApplicationFace(options.face, icon.IsOpen() ? &icon : nullptr, resources, error)) {
    return false;
  }

  PackedLayout layout;
  if (!PlanPackedLayout(stub, stub_file, layout, error)) return false;

  ScratchFile cabinet_path;
  InputFile cabinet;
  const InputFile* setup_data = &setup;
  if (options.setup_type == "BL") {
    if (!cabinet_path.Create(options.output, "cab", error) ||
        !WriteSetupCabinet(options.setup, CabinetTime(options, setup),
                           options.cabinet_compression, cabinet_path.path(), error) ||
        !cabinet.Open(cabinet_path.path(), error)) {
      return false;
    }
    setup_data = &cabinet;
  }
  resources.push_back(PayloadMember(options.archive_type, archive_name, archive));
  resources.push_back(PayloadMember(options.setup_type, setup_name, *setup_data));
  if (options.has_previous_version) {
    resources.push_back(MemoryResource(ResourceKey::Id(kRtRcdata),
                                       ResourceKey::Id(kPreviousVersionId), kPayloadLanguage,
                                       TerminatedUtf16Bytes(previous_version)));
  }

  // The payload as the stub will enumerate it, judged by the stub's own rules before anything
  // is written. The checks on each name above already keep out what this would refuse; this is
  // the guard that the two never drift apart. What the stub brought along is judged with the
  // whole installer when it is read back.
  SectionContent section;
  if (!BuildResourceSection(resources, layout.payload_rva, section, error)) return false;
  std::vector<Resource> added;
  for (const Resource& r : resources) {
    if (r.file != nullptr || (options.has_previous_version && IsPreviousVersion(r))) {
      added.push_back(r);
    }
  }
  PayloadLayout planned;
  ReadPayloadLayout(added, PlannedData(), planned);
  if (!planned.verdict.accepted()) {
    error = "the stub would reject this layout: " + planned.verdict.reason;
    return false;
  }

  // The installer is read back the way the stub will read it while it is still the temporary
  // file, so that a faulty one never appears under the output path.
  StagedFile out_file;
  InstallerReport report;
  if (!out_file.Create(options.output, error) ||
      !WritePackedImage(stub, stub_file, layout, section, out_file, error) ||
      !InspectInstaller(out_file.temp_path(), report, error, false)) {
    return false;
  }
  if (!report.accepted()) {
    error = "the written installer reads back wrong: " +
            (report.image_fault.empty() ? report.layout.verdict.reason : report.image_fault);
    return false;
  }
  if (!out_file.Commit(error)) return false;
  report.path = options.output;
  PrintReport(report, out);
  return true;
}
