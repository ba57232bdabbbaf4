#include "pack_command.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "check_mode.h"
#include "file_io.h"
#include "payload_rules.h"
#include "pe_image.h"
#include "pe_writer.h"
#include "resource_listing.h"
#include "resource_tree.h"
#include "setup_cabinet.h"

namespace {

bool CheckType(const std::string& type, const char* what, std::string& error) {
  for (const char* t : kPayloadTypes) {
    if (type == t) return true;
  }
  error = std::string("the ") + what + " type must be B7, BL or BN, not \"" + type + "\"";
  return false;
}

NewResource Resource(ResourceKey type, ResourceKey name) {
  NewResource r;
  r.type = std::move(type);
  r.name = std::move(name);
  r.language = kPayloadLanguage;
  return r;
}

// A payload member, streamed from its file and starting on a page of its own.
NewResource StreamedMember(const std::string& type, const std::u16string& name,
                          const InputFile& file) {
  NewResource r = Resource(ResourceKey::Name(std::u16string(type.begin(), type.end())),
                           ResourceKey::Name(name));
  r.file = &file;
  r.page_aligned = true;
  return r;
}

// The previous version as the stub reads it: UTF-16LE with a terminating zero unit.
bool PreviousVersionBytes(const std::string& text, size_t archive_name_units,
                          const std::string& archive_type, std::vector<uint8_t>& bytes,
                          std::string& error) {
  std::u16string units;
  if (!Utf8ToUtf16(text, units)) {
    error = "the previous version is not valid UTF-8";
    return false;
  }
  if (!CheckPreviousVersion(units, archive_name_units, archive_type, error)) return false;
  units += u'\0';
  for (char16_t c : units) {
    bytes.push_back(static_cast<uint8_t>(c));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  return true;
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
                       const std::vector<ListedResource>& listed, bool has_previous_version,
                       std::vector<NewResource>& resources, std::string& error) {
  uint64_t total = 0;
  for (const ListedResource& r : listed) {
    if (r.type.named && IsPayloadType(r.type.name())) {
      error = path + " already carries payload resources (type " + KeyText(r.type) +
              "); pack the bare stub";
      return false;
    }
    if (has_previous_version && !r.type.named && r.type.id == kRtRcdata && !r.name.named &&
        r.name.id == kPreviousVersionId) {
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
    NewResource own = Resource(r.type, r.name);
    own.language = r.language;
    own.codepage = r.codepage;
    own.bytes.resize(r.size);
    if (r.size != 0 && !stub_file.ReadAt(r.file_offset, own.bytes.data(), r.size, error)) {
      return false;
    }
    resources.push_back(std::move(own));
  }
  return true;
}

bool OpenNonEmpty(const std::string& path, const char* what, InputFile& file, std::string& error) {
  if (path.empty()) {
    error = std::string("no ") + what + " given";
    return false;
  }
  if (!file.Open(path, error)) return false;
  if (file.size() == 0) {
    error = std::string("the ") + what + " " + path +
            " is empty; the stub treats an empty resource as missing";
    return false;
  }
  return true;
}

int64_t CabinetTime(const PackOptions& options, const InputFile& setup) {
  if (options.has_cabinet_time) return options.cabinet_time;
  // The reproducible-builds convention: a build that fixes its time fixes the cabinet's too.
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
    char* end = nullptr;
    const long long value = std::strtoll(epoch, &end, 10);
    if (end != epoch && *end == '\0') return value;
  }
  return setup.mtime();
}

}  // namespace

std::string DefaultArchiveName() { return "LUMORA.PACKED.7Z"; }

std::string DefaultSetupName(const std::string& setup_type) {
  if (setup_type == "BL") return "SETUP.EX_";
  if (setup_type == "BN") return "SETUP.EXE";
  return "SETUP.PATCH";
}

bool RunPack(const PackOptions& options, std::ostream& out, std::string& error) {
  if (options.output.empty()) {
    error = "no output path given";
    return false;
  }
  if (!CheckType(options.archive_type, "archive", error) ||
      !CheckType(options.setup_type, "setup program", error)) {
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
  std::vector<uint8_t> previous_version;
  if (options.has_previous_version &&
      !PreviousVersionBytes(options.previous_version, archive_name.size(), options.archive_type,
                            previous_version, error)) {
    return false;
  }
  InputFile stub_file, archive, setup;
  PeImage stub;
  std::vector<ListedResource> stub_resources;
  if (!OpenNonEmpty(options.stub, "stub", stub_file, error) ||
      !OpenNonEmpty(options.archive, "archive", archive, error) ||
      !OpenNonEmpty(options.setup, "setup program", setup, error)) {
    return false;
  }
  const InputFile* const inputs[] = {&stub_file, &archive, &setup};
  const char* const words[] = {"stub", "archive", "setup program"};
  if (!CheckOutputIsNoInput(options.output, inputs, words, 3, error) ||
      !ReadPeImage(stub_file, stub, error)) {
    return false;
  }
  uint32_t signature_offset = 0, signature_size = 0;
  stub.Directory(kDirectorySecurity, signature_offset, signature_size);
  if (signature_offset != 0 || signature_size != 0) {
    error = options.stub + " is signed; its signature would not cover the installer. Pack the "
            "unsigned stub and sign the installer after packing";
    return false;
  }
  std::vector<NewResource> resources;
  if (!ReadResourceListing(stub, stub_file, stub_resources, error) ||
      !CopyStubResources(options.stub, stub_file, stub_resources, options.has_previous_version,
                         resources, error)) {
    return false;
  }

  uint32_t section_rva = 0;
  if (!PlanPayloadSection(stub, section_rva, error)) return false;

  ScratchFile cabinet_path;
  InputFile cabinet;
  const InputFile* setup_data = &setup;
  if (options.setup_type == "BL") {
    if (!cabinet_path.Create(options.output, "cab", error) ||
        !WriteSetupCabinet(options.setup, CabinetTime(options, setup), cabinet_path.path(), error) ||
        !cabinet.Open(cabinet_path.path(), error)) {
      return false;
    }
    setup_data = &cabinet;
  }
  resources.push_back(StreamedMember(options.archive_type, archive_name, archive));
  resources.push_back(StreamedMember(options.setup_type, setup_name, *setup_data));
  if (options.has_previous_version) {
    NewResource version = Resource(ResourceKey::Id(kRtRcdata), ResourceKey::Id(kPreviousVersionId));
    version.bytes = previous_version;
    resources.push_back(std::move(version));
  }

  // The layout as the stub will enumerate it, judged by the stub's own rules before anything is
  // written. The checks on each name above already keep out what this would refuse; this is the
  // guard that the two never drift apart.
  std::vector<PayloadType> planned;
  for (const char* type : kPayloadTypes) {
    PayloadType t{type, {}};
    std::vector<std::pair<std::u16string, const InputFile*>> members;
    if (options.archive_type == type) members.emplace_back(archive_name, &archive);
    if (options.setup_type == type) members.emplace_back(setup_name, setup_data);
    std::sort(members.begin(), members.end());
    for (const auto& [name, file] : members) {
      PayloadEntry e;
      e.named = true;
      e.name = name;
      e.size = file->size();
      e.cabinet_magic = file == &cabinet;
      t.entries.push_back(e);
    }
    planned.push_back(t);
  }
  std::u16string version_text;
  for (size_t i = 0; i + 3 < previous_version.size(); i += 2) {
    version_text += static_cast<char16_t>(previous_version[i] | previous_version[i + 1] << 8);
  }
  const PayloadVerdict verdict =
      ClassifyPayload(planned, options.has_previous_version ? &version_text : nullptr);
  if (!verdict.accepted()) {
    error = "the stub would reject this layout: " + verdict.reason;
    return false;
  }

  // The installer is read back the way the stub will read it while it is still the temporary
  // file, so that a faulty one never appears under the output path.
  ResourceSection section;
  OutputFile out_file;
  InstallerReport report;
  if (!BuildResourceSection(std::move(resources), section_rva, section, error) ||
      !out_file.Create(options.output, error) ||
      !WritePackedImage(stub, stub_file, section_rva, section, out_file, error) ||
      !InspectInstaller(out_file.temp_path(), report, error, false)) {
    return false;
  }
  if (!report.accepted()) {
    error = "the written installer reads back wrong: " +
            (report.image_fault.empty() ? report.verdict.reason : report.image_fault);
    return false;
  }
  if (!out_file.Commit(error)) return false;
  report.path = options.output;
  PrintReport(report, out);
  return true;
}
