#include "cli/pack_command.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "resources/application_face.h"
#include "pe/bare_stub.h"
#include "cabinet/cabinet_reader.h"
#include "cli/check_command.h"
#include "reports/json_report.h"
#include "reports/report_digests.h"
#include "reports/text_report.h"
#include "platform/escaped_text.h"
#include "platform/file_io.h"
#include "platform/folder_listing.h"
#include "payload/installer_report.h"
#include "cabinet/cabinet_writer.h"
#include "cli/option_table.h"
#include "payload/archive_facts.h"
#include "payload/payload_layout.h"
#include "payload/shipped_setup_program.h"
#include "payload/stub_verdict.h"
#include "pe/pe_image.h"
#include "pe/pe_writer.h"
#include "pe/program_image.h"
#include "cli/progress_meter.h"
#include "resources/resource_listing.h"
#include "resources/resource_section.h"
#include "cabinet/setup_cabinet.h"
#include "update/update_members.h"
#include "platform/utf_text.h"

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
Resource MemberResource(PayloadType type, const std::u16string& name, const InputFile& file) {
  return StreamedResource(ResourceKey::Name(PayloadTypeName(type).narrow),
                          ResourceKey::Name(name), kPayloadLanguage, file);
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
    PayloadType type = PayloadType::kPacked;
    if (r.type.named && ParsePayloadType(r.type.name(), type)) {
      error = path + " already carries payload resources (type " + ShownKey(r.type) +
              "); pack the bare stub";
      return false;
    }
    if (has_previous_version && IsPreviousVersion(r)) {
      error = path + " already carries a previous version (RT_RCDATA 1); pack the bare stub";
      return false;
    }
    if (!r.mapped) {
      error = path + ": resource " + ShownKey(r.type) + "/" + ShownKey(r.name) +
              " lies outside the file; the stub is damaged, build it again";
      return false;
    }
    total += r.size;
    if (total > stub_file.size()) {
      error = path + ": its resources claim more bytes than the file holds (" +
              std::to_string(total) + " of " + std::to_string(stub_file.size()) +
              "); several of them share their data, which no build makes: build the stub again";
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
  if (!file.Open(path, error, what)) return false;
  if (file.size() == 0) {
    error = Described(path, what) + " is empty, and the stub would take an empty member for a "
            "missing one; name the file your build made";
    return false;
  }
  return true;
}

// What the folder of the output needs, for a message that says what to do.
const char kWritableFolder[] = "; choose an --output in a folder you can write to";

// "1.5 GiB", "68.4 KiB": sizes as people compare them.
std::string SizeText(uint64_t bytes) {
  const char* units[] = {"KiB", "MiB", "GiB"};
  double size = static_cast<double>(bytes) / 1024;
  int unit = 0;
  while (unit < 2 && size >= 1024) {
    size /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f %s", size, units[unit]);
  return text;
}

// The whole installer must fit what a PE image can describe: 4 GiB of file and address space,
// and every resource less than that. Said in terms of the user's own files, before any work.
bool CheckInstallerSize(const PackedLayout& layout, const InputFile& archive,
                        const InputFile& setup, std::string& error) {
  const uint64_t total = layout.payload_offset + archive.size() + setup.size();
  if (total < UINT32_MAX) return true;
  error = "the installer would be " + SizeText(total) + " (the archive " + archive.path() + " " +
          SizeText(archive.size()) + ", the setup program " + setup.path() + " " +
          SizeText(setup.size()) + "), but a Windows program cannot be larger than 4 GiB; make "
          "the archive smaller";
  return false;
}

// Warnings for a face that is only partly the application's: given some face options, a text
// or the icon that still shows the stub's own is most likely forgotten. Each says which option
// sets it.
std::vector<std::string> StubFaceWarnings(const PackOptions& options,
                                          const std::vector<Resource>& stub_resources) {
  std::vector<std::string> warnings;
  if (options.face.empty() && options.icon.empty()) return warnings;
  if (options.icon.empty()) {
    warnings.push_back("the icon is still the stub's own; set it with --icon FILE.ico");
  }
  for (const auto& [key, text] : StubTextsLeft(options.face, stub_resources)) {
    const OptionDefinition* shorthand = ShorthandForKey(key);
    const std::string option = shorthand != nullptr
                                   ? std::string(shorthand->name) + " " + shorthand->value
                                   : "--version-string " + key + "=TEXT";
    warnings.push_back("the version text " + key + " still reads \"" + text +
                       "\", the stub's own; set it with " + option);
  }
  return warnings;
}

// Whether to show progress: as asked, else on a terminal for a large payload.
bool ShowProgress(const PackOptions& options, const InputFile& archive, const InputFile& setup) {
  if (options.progress != ProgressMode::kAuto) return options.progress == ProgressMode::kOn;
  return StandardErrorIsTerminal() && archive.size() + setup.size() >= kProgressFrom;
}

// The time given (--cabinet-time or SOURCE_DATE_EPOCH, both checked to lie within the cabinet's
// dates), else the setup file's own, which the cabinet writer brings within them.
int64_t CabinetTime(const PackOptions& options, const InputFile& setup) {
  return options.has_cabinet_time ? options.cabinet_time : setup.mtime();
}

// Files that are plainly not a setup program but an application's archive or package.
bool IsArchiveKind(FileKind kind) {
  return kind == FileKind::kSevenZip || kind == FileKind::kZip || kind == FileKind::kCabinet ||
         kind == FileKind::kWindowsInstaller || kind == FileKind::kGzip || kind == FileKind::kXz;
}

// The setup program we ship judges the archive before it writes anything: an archive it would
// refuse is refused here, with its reason and the code the run would end with. A patch archive
// is the setup program's to apply, not to judge here.
bool CheckArchiveForShippedSetup(const InputFile& archive, std::string& error) {
  const ArchiveFacts facts = ReadArchiveFacts(archive);
  if (!facts.SetupRefuses() || facts.format == ArchiveFacts::Format::kPatchArchive) return true;
  const char* name = SetupExitCodeName(facts.setup_exit_code);
  error = "the setup program (lumora-setup) would refuse the archive " + Escaped(archive.path()) +
          " and exit with " + std::to_string(facts.setup_exit_code) +
          (name != nullptr ? std::string(" (") + name + ")" : "") + ": " +
          SetupRefusalText(facts) + "; make it with lumora-pack archive or 7-Zip's LZMA or LZMA2";
  return false;
}

// The inputs, each read once from the file that was opened: the setup program must be what the
// stub can start on every 64-bit Windows (for "BL", what its cabinet expands to), and a setup
// file that is already a cabinet is taken as the cabinet itself, once it is seen to expand whole.
// What does not refuse but is likely a mistake is added to warnings.
bool CheckInputs(const PackOptions& options, PayloadType setup_type, const InputFile& archive,
                 const InputFile& setup, bool& setup_is_cabinet,
                 std::vector<std::string>& warnings, std::string& error) {
  const ProgramFacts archive_kind = DescribeFile(archive);
  const bool archive_is_program = archive_kind.kind == FileKind::kWindowsProgram ||
                                  archive_kind.kind == FileKind::kDosProgram;
  setup_is_cabinet = false;
  if (setup_type == PayloadType::kPacked) {
    if (!options.has_previous_version) {
      warnings.push_back("a patch setup program (B7) without --previous-version: the stub "
                         "applies it with whatever setup program is installed");
    }
  } else {
    ProgramFacts program = DescribeFile(setup);
    std::string what = Escaped(setup.path()) + " is " + program.Describe();
    std::vector<uint8_t> expanded;
    if (program.kind == FileKind::kCabinet && setup_type == PayloadType::kCabinet) {
      CabinetFacts cabinet;
      ReadCabinet(setup, cabinet);
      if (!cabinet.expanded) {
        error = "the setup cabinet " + Escaped(setup.path()) + " cannot be expanded (" +
                cabinet.failure + "); the stub would exit with " +
                std::to_string(EXIT_SETUP_UNPACK_FAILED);
        return false;
      }
      expanded.swap(cabinet.first_file);
      program = DescribeFile(MemorySource("setup.exe", expanded));
      what = "the setup cabinet " + Escaped(setup.path()) + " expands to " + program.Describe();
      setup_is_cabinet = true;
    }
    if (!program.IsWindowsX64Program()) {
      error = what + ", not a 64-bit Windows program";
      if (program.kind == FileKind::kCabinet) {
        error += ": a cabinet of the setup program is shipped as it is with --setup-type BL";
      } else if (IsArchiveKind(program.kind) || archive_is_program) {
        error += ": did you swap --archive and --setup?";
      }
      return false;
    }
    const std::string imports = ForeignImportsNote(program);
    if (!imports.empty()) warnings.push_back(imports);
    const bool shipped = setup_is_cabinet
                             ? IsShippedSetupProgram(MemorySource("setup.exe", expanded))
                             : IsShippedSetupProgram(setup);
    if (shipped && !CheckArchiveForShippedSetup(archive, error)) return false;
  }
  if (archive_is_program) {
    warnings.push_back("the archive " + Escaped(archive.path()) + " is " +
                       archive_kind.Describe() + "; is it the setup program?");
  }
  return true;
}

}  // namespace

std::string DefaultArchiveName() { return kDefaultArchiveName.narrow; }

std::string DefaultSetupName(PayloadType setup_type) {
  if (setup_type == PayloadType::kCabinet) return kDefaultCabinetName.narrow;
  if (setup_type == PayloadType::kPlain) return kDefaultPlainName.narrow;
  return kDefaultPatchName.narrow;
}

namespace {

// What pack reads, each opened once and kept open for the whole run, so that the file judged is
// the file written: the stub and its image, the application's archive (made first when
// --archive names a folder), the setup program and the icon.
struct PackInputs {
  InputFile stub_file, archive, setup, icon;
  PeImage stub;
  ScratchFile made_archive;  // the archive pack made of a folder, removed when pack ends
  bool setup_is_cabinet = false;
  // An update's members, which replace archive and setup once they are made, and the setup
  // cabinet of the full installer it is measured against.
  ScratchFile update_archive, update_setup, full_cabinet;
};

// What pack decides before it writes: the resources of the installer and their layout, the
// setup cabinet it compressed, and the warnings to give once the installer is written.
struct PackPlan {
  std::vector<Resource> resources;
  PackedLayout layout;
  ScratchFile cabinet_path;
  InputFile cabinet;
  SectionContent section;
  std::vector<std::string> warnings;
  bool show_progress = false;
  bool terminal = false;
  // An update: the size the full installer of the new release would have.
  uint64_t full_installer_size = 0;
};

// The stub, the setup program and the icon, opened and checked before any slow work (an
// application's archive takes a minute to compress), and the output checked to be a place for
// the installer.
bool ReadStubAndSetup(const PackOptions& options, PackInputs& in, std::string& error) {
  if (!OpenNonEmpty(options.stub, "stub", in.stub_file, error) ||
      !OpenNonEmpty(options.setup, "setup program", in.setup, error) ||
      (!options.icon.empty() && !in.icon.Open(options.icon, error, "icon"))) {
    return false;
  }
  if (!CheckReplaceable(options.output, error)) {
    error = "the output " + error + "; name a file for the installer";
    return false;
  }
  if (!ReadPeImage(in.stub_file, in.stub, error)) return false;
  if (!CheckBareStub(in.stub, in.stub_file, error)) {
    error = options.stub + " " + error;
    return false;
  }
  return true;
}

// The application's archive: the file given, or, when --archive names a folder, the archive
// made of it in a temporary file beside the output.
bool ReadArchive(const PackOptions& options, PackInputs& in, std::string& error) {
  std::string path = options.archive;
  if (KindOfPath(options.archive) == PathKind::kFolder) {
    if (!in.made_archive.Create(options.output, "7z", error)) {
      error += kWritableFolder;
      return false;
    }
    ArchiveSummary summary;
    if (!WriteSevenZipArchive(options.archive, options.archive_settings, in.made_archive.path(),
                              summary, error)) {
      return false;
    }
    path = in.made_archive.path();
  }
  return OpenNonEmpty(path, "archive", in.archive, error);
}

// Bytes written to a scratch file beside the output, and opened as an input.
bool WriteScratch(const std::string& output, const char* tag, const std::vector<uint8_t>& bytes,
                  ScratchFile& scratch, InputFile& file, std::string& error) {
  StagedFile staged;
  if (!scratch.Create(output, tag, error) || !staged.Create(scratch.path(), error) ||
      !staged.Write(bytes.data(), bytes.size(), error) || !staged.Commit(error)) {
    error += kWritableFolder;
    return false;
  }
  file = InputFile();
  return file.Open(scratch.path(), error);
}

// Bytes as the installer lays a member out: from a page of its own.
uint64_t OnPages(uint64_t size) { return (size + kPageSize - 1) / kPageSize * kPageSize; }

// The full installer of the new release, as pack would write it without --update-from: the
// stub, the archive, the setup program in its cabinet. What an update is measured against.
bool FullInstallerSize(const PackOptions& options, PackInputs& in, uint64_t& size,
                       std::string& error) {
  uint64_t setup_size = in.setup.size();
  if (DescribeFile(in.setup).kind != FileKind::kCabinet) {
    InputFile cabinet;
    if (!in.full_cabinet.Create(options.output, "cab", error) ||
        !WriteSetupCabinet(in.setup, CabinetTime(options, in.setup), options.cabinet_compression,
                           in.full_cabinet.path(), error) ||
        !cabinet.Open(in.full_cabinet.path(), error)) {
      return false;
    }
    setup_size = cabinet.size();
  }
  size = in.stub_file.size() + OnPages(in.archive.size()) + OnPages(setup_size);
  return true;
}

// With --update-from: the previous installer read, the new release's archive and setup program
// turned into their patches, which replace them as the members; the previous version its
// archive's VERSION unless given. An update larger than half the full installer is written only
// when asked: the full installer would serve its users better.
bool MakeUpdate(PackOptions& options, PackInputs& in, PackPlan& plan, std::string& error) {
  if (options.update_from.empty()) return true;
  InputFile previous;
  if (!previous.Open(options.update_from, error, "previous installer")) return false;
  if (NamesOpenFile(options.output, previous)) {
    error = "the output " + options.output + " is the previous installer; packing would "
            "replace it";
    return false;
  }
  UpdateMembers members;
  if (!MakeUpdateMembers(options.update_from, in.archive, in.setup, members, error) ||
      !FullInstallerSize(options, in, plan.full_installer_size, error)) {
    return false;
  }
  PackPayload& payload = options.payload;
  if (!options.has_previous_version) {
    if (members.previous_version.empty()) {
      error = "the previous installer's archive has no usable VERSION file; give "
              "--previous-version";
      return false;
    }
    options.has_previous_version = true;
    options.previous_version = members.previous_version;
    if (!Utf8ToUtf16(options.previous_version, payload.previous_version) ||
        !CheckPreviousVersion(payload.previous_version, payload.archive_name.size(),
                              payload.archive_type, error)) {
      error = "the previous installer's version cannot be handed on: " + error;
      return false;
    }
  }
  const uint64_t update_size = in.stub_file.size() + OnPages(members.data_patch.size()) +
                               OnPages(members.setup_patch.size());
  const std::string sizes = "the update is about " + SizeText(update_size) +
                            ", the full installer " + SizeText(plan.full_installer_size);
  if (update_size * 2 > plan.full_installer_size && !options.allow_large_update) {
    error = sizes + ": more than half of it. Ship the full installer, or give "
            "--allow-large-update to write the update anyway";
    return false;
  }
  return WriteScratch(options.output, "patch", members.data_patch, in.update_archive, in.archive,
                      error) &&
         WriteScratch(options.output, "setup", members.setup_patch, in.update_setup, in.setup,
                      error);
}

// Every input against every other and against the output, and what each must be.
bool CheckAllInputs(const PackOptions& options, PackInputs& in, PackPlan& plan,
                    std::string& error) {
  const InputFile* const inputs[] = {&in.stub_file, &in.archive, &in.setup, &in.icon};
  const char* const words[] = {"stub", "archive", "setup program", "icon"};
  if (!CheckOutputIsNoInput(options.output, inputs, words, in.icon.IsOpen() ? 4 : 3, error) ||
      !CheckInputs(options, options.payload.setup_type, in.archive, in.setup, in.setup_is_cabinet,
                   plan.warnings, error)) {
    return false;
  }
  // After the inputs' own warnings, which a JSON refusal still carries.
  uint32_t signature_offset = 0, signature_size = 0;
  in.stub.Directory(kDirectorySecurity, signature_offset, signature_size);
  if (signature_offset != 0 || signature_size != 0) {
    error = options.stub + " is signed; its signature would not cover the installer. Pack the "
            "unsigned stub and sign the installer after packing";
    return false;
  }
  return true;
}

// The installer's resources but the payload: the stub's own, with the application's face.
bool PlanStubResources(const PackOptions& options, PackInputs& in, PackPlan& plan,
                       std::string& error) {
  std::vector<Resource> stub_resources;
  if (!ReadResourceListing(in.stub, in.stub_file, stub_resources, error) ||
      !CopyStubResources(options.stub, in.stub_file, stub_resources, options.has_previous_version,
                         plan.resources, error)) {
    return false;
  }
  for (const std::string& warning : StubFaceWarnings(options, plan.resources)) {
    plan.warnings.push_back(warning);
  }
  if (!ApplyApplicationFace(options.face, in.icon.IsOpen() ? &in.icon : nullptr, plan.resources,
                            error)) {
    return false;
  }
  if (!PlanPackedLayout(in.stub, in.stub_file, plan.layout, error)) {
    error = options.stub + ": " + error;
    return false;
  }
  // The setup program's size stands for its cabinet's here, before the work of compressing:
  // a cabinet outgrows its file only by a few bytes a block, when nothing compresses, and the
  // resource section's own check still catches those.
  if (!CheckInstallerSize(plan.layout, in.archive, in.setup, error)) return false;
  plan.show_progress = ShowProgress(options, in.archive, in.setup);
  plan.terminal = StandardErrorIsTerminal();
  return true;
}

// The setup program as it is stored: compressed into a cabinet for BL (unless it is one
// already), as it is otherwise.
bool MakeSetupCabinet(const PackOptions& options, PackInputs& in, PackPlan& plan,
                      std::ostream& err, const InputFile*& setup_data, std::string& error) {
  setup_data = &in.setup;
  if (options.payload.setup_type != PayloadType::kCabinet || in.setup_is_cabinet) return true;
  if (in.setup.size() > kMaxCabinetFileSize) {
    error = "the setup program " + options.setup + " is " + SizeText(in.setup.size()) +
            ", more than a cabinet holds (" + std::to_string(kMaxCabinetFileSize) +
            " bytes); store it as it is with --setup-type BN";
    return false;
  }
  if (!plan.cabinet_path.Create(options.output, "cab", error)) {
    error += kWritableFolder;
    return false;
  }
  ProgressMeter compressing(err, "compressing " + options.setup, plan.terminal);
  const bool compressed = WriteSetupCabinet(in.setup, CabinetTime(options, in.setup),
                                            options.cabinet_compression, plan.cabinet_path.path(),
                                            error, plan.show_progress ? &compressing : nullptr);
  compressing.Finish();
  if (!compressed || !plan.cabinet.Open(plan.cabinet_path.path(), error)) return false;
  setup_data = &plan.cabinet;
  return true;
}

// The payload as the stub will enumerate it, judged by the stub's own rules before anything
// is written. The checks on each name above already keep out what this would refuse; this is
// the guard that the two never drift apart. What the stub brought along is judged with the
// whole installer when it is read back.
bool PlanPayloadSection(const PackOptions& options, const PackInputs& in,
                        const InputFile& setup_data, PackPlan& plan, std::string& error) {
  const PackPayload& payload = options.payload;
  plan.resources.push_back(MemberResource(payload.archive_type, payload.archive_name, in.archive));
  plan.resources.push_back(MemberResource(payload.setup_type, payload.setup_name, setup_data));
  if (options.has_previous_version) {
    plan.resources.push_back(MemoryResource(ResourceKey::Id(kRtRcdata),
                                            ResourceKey::Id(kPreviousVersionId), kPayloadLanguage,
                                            TerminatedUtf16Bytes(payload.previous_version)));
  }
  if (!BuildResourceSection(plan.resources, plan.layout.payload_rva, plan.section, error)) {
    return false;
  }
  std::vector<Resource> added;
  for (const Resource& r : plan.resources) {
    if (r.file != nullptr || (options.has_previous_version && IsPreviousVersion(r))) {
      added.push_back(r);
    }
  }
  PayloadLayout planned;
  ReadPayloadLayout(added, PlannedData(), planned, /*read_members=*/false);
  // An installer meant for short folders alone (a long previous version or name) is written,
  // with a warning that names the longest folder it works from.
  if (!planned.verdict.accepted() && !planned.verdict.FolderBound()) {
    error = "the stub would reject this layout: " + planned.verdict.reason;
    return false;
  }
  return true;
}

// The installer written to a temporary file and read back the way the stub will read it, so
// that a faulty one never appears under the output path; then renamed to it.
bool WriteInstaller(const PackOptions& options, const PackInputs& in, PackPlan& plan,
                    std::ostream& err, InstallerReport& report, ReportDigests& digests,
                    std::string& error) {
  StagedFile out_file;
  if (!out_file.Create(options.output, error)) {
    error += kWritableFolder;
    return false;
  }
  ProgressMeter writing(err, "writing " + options.output, plan.terminal);
  const bool written = WritePackedImage(in.stub, in.stub_file, plan.layout, plan.section,
                                        out_file, plan.show_progress ? &writing : nullptr, error);
  writing.Finish();
  // JSON reports the checksum as check does, computed over the file.
  if (!written || !InspectInstaller(out_file.temp_path(), report, error, options.json)) {
    return false;
  }
  if (report.layout.verdict.FolderBound() && report.image_fault.empty()) {
    plan.warnings.push_back(report.layout.verdict.reason);
  } else if (!report.accepted()) {
    error = "the written installer reads back wrong: " +
            (report.image_fault.empty() ? report.layout.verdict.reason : report.image_fault);
    return false;
  }
  if (options.json && !ComputeReportDigests(report, digests, error)) return false;
  return out_file.Commit(error);
}

// The warnings, said once the installer is written so that a refusal is never buried under
// them, then the report as asked.
void ReportPack(const PackOptions& options, const PackPlan& plan, InstallerReport& report,
                const ReportDigests& digests, std::ostream& out, std::ostream& err) {
  for (const std::string& warning : plan.warnings) {
    err << "lumora-pack: warning: " << warning << "\n";
  }
  report.path = options.output;
  if (options.json) {
    PrintJsonReport(report, digests, ReportWarnings(report, plan.warnings), out);
  } else if (!options.quiet) {
    PrintReport(report, out);
    if (plan.full_installer_size != 0) {
      char share[32];
      std::snprintf(share, sizeof(share), "%.1f %%",
                    100.0 * static_cast<double>(report.file_size) /
                        static_cast<double>(plan.full_installer_size));
      out << "update size: " << report.file_size << " bytes; the full installer: "
          << plan.full_installer_size << " bytes (" << share << ")\n";
    }
  }
}

}  // namespace

bool RunPack(const PackOptions& given, std::ostream& out, std::ostream& err,
             std::string& error) {
  // An update settles its members' storage and its previous version once it has read the
  // previous installer.
  PackOptions options = given;
  PackInputs in;
  PackPlan plan;
  const InputFile* setup_data = nullptr;
  InstallerReport report;
  ReportDigests digests;
  if (!ReadStubAndSetup(options, in, error) || !ReadArchive(options, in, error) ||
      !MakeUpdate(options, in, plan, error) || !CheckAllInputs(options, in, plan, error) ||
      !PlanStubResources(options, in, plan, error) ||
      !MakeSetupCabinet(options, in, plan, err, setup_data, error) ||
      !PlanPayloadSection(options, in, *setup_data, plan, error) ||
      !WriteInstaller(options, in, plan, err, report, digests, error)) {
    // The warnings found on the way go with the reason into the JSON object of a failure.
    if (options.json) PrintJsonPackFailure(options.output, error, plan.warnings, out);
    return false;
  }
  ReportPack(options, plan, report, digests, out, err);
  return true;
}
