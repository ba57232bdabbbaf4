// What the packer writes: the payload where the stub will find it, read back by check mode and
// by independent means (a byte search, a reference checksum, gcab, osslsigncode).
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "payload/installer_report.h"
#include "crafted_image.h"
#include "platform/file_io.h"
#include "icon_fixture.h"
#include "pack_fixture.h"
#include "payload/stub_verdict.h"
#include "pe/pe_image.h"
#include "resources/resource_listing.h"

namespace {

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, uint64_t offset, uint64_t size) {
  if (offset + size > bytes.size()) return {};
  return std::vector<uint8_t>(bytes.begin() + offset, bytes.begin() + offset + size);
}

std::u16string U16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// Expands the single file of a cabinet with gcab, with its name, attributes and time as gcab
// lists them, and the folder's compression type from the cabinet's header.
struct CabinetFile {
  bool ok = false;
  std::string name;
  uint32_t attributes = 0;
  std::string time;  // UTC fields, "YYYY-MM-DD HH:MM:SS"
  int compression = -1;
  std::vector<uint8_t> bytes;
};

CabinetFile ReadCabinet(const std::vector<uint8_t>& cab, const std::string& scratch_dir) {
  CabinetFile result;
  const std::string path = scratch_dir + "/member.cab";
  const std::string expanded = scratch_dir + "/member";
  WriteFileBytes(path, cab);
  const RunResult list = RunProgram("gcab -l '" + path + "'");
  const RunResult extract =
      RunProgram("mkdir -p '" + expanded + "' && gcab -x -C '" + expanded + "' '" + path + "'");
  char name[64] = {};
  char date[16] = {};
  char time[16] = {};
  unsigned long size = 0;
  unsigned attributes = 0;
  if (cab.size() < 44 || list.status != 0 || extract.status != 0 ||
      std::sscanf(list.out.c_str(), "%63s %lu %15s %15s %x", name, &size, date, time,
                  &attributes) != 5 ||
      std::count(list.out.begin(), list.out.end(), '\n') != 1) {
    return result;
  }
  result.name = name;
  result.attributes = attributes;
  result.time = std::string(date) + " " + time;
  result.compression = cab[42] | (cab[43] << 8);
  result.bytes = ReadFileBytes(expanded + "/" + result.name);
  result.ok = result.bytes.size() == size;
  return result;
}

class PackOutput : public PackFixture {};

TEST_F(PackOutput, SameInputsGiveTheSameBytes) {
  ASSERT_EQ(Pack(Args("--previous-version 1.2", "a.exe")).status, 0);
  // Another modification time of the setup program: the cabinet time is given, so it must not
  // matter; nor must the output's name.
  ASSERT_EQ(std::system(("touch -d 2001-01-01 '" + Path("setup.exe") + "'").c_str()), 0);
  ASSERT_EQ(Pack(Args("--previous-version 1.2", "b.exe")).status, 0);
  const std::vector<uint8_t> a = ReadFileBytes(Path("a.exe"));
  EXPECT_FALSE(a.empty());
  EXPECT_EQ(a, ReadFileBytes(Path("b.exe")));
}

struct Layout {
  const char* what;
  std::string extra;
  std::string archive_type, setup_type;
  std::string archive_name, setup_name;  // as stored
  bool previous;
  std::u16string previous_version;
  uint16_t compression;             // of a BL setup cabinet
  const char* compression_shown;    // ... as check shows it
  // Written, but the stub works from a drive's root alone: pack warns, check refuses.
  bool root_only = false;
};

TEST_F(PackOutput, CheckReadsBackWhatWasPacked) {
  // The longest name that fits a path in the work directory of an installer at a drive's root.
  const std::string longest = "LUMORA" + std::string(kLongestMemberName - 6, 'Y');
  const char* const kDefault = "LZX, window 2^21 (2 MiB)";
  const Layout layouts[] = {
      {"shipped layout", "--previous-version 1.2.3.4", "B7", "BL", "LUMORA.PACKED.7Z",
       "SETUP.EX_", true, u"1.2.3.4", 0x1503, kDefault},
      {"both unchanged in BN, lower-case names", "--archive-type BN --setup-type BN "
       "--archive-name lumora-app.7z --setup-name Setup.exe",
       "BN", "BN", "LUMORA-APP.7Z", "SETUP.EXE", false, u"", 0, nullptr},
      {"patch with a non-ASCII version", "--archive-type BL --setup-type B7 "
       "--previous-version '2.0 \xCE\xB2'",
       "BL", "B7", "LUMORA.PACKED.7Z", "SETUP.PATCH", true, u"2.0 \u03B2", 0, nullptr},
      {"archive and cabinet in BL, longest name", "--archive-type BL --archive-name " + longest,
       "BL", "BL", longest, "SETUP.EX_", false, u"", 0x1503, kDefault, true},
      {"empty previous version", "--previous-version ''", "B7", "BL", "LUMORA.PACKED.7Z",
       "SETUP.EX_", true, u"", 0x1503, kDefault},
      {"the shipped cabinet's window", "--cabinet-compression lzx:18", "B7", "BL",
       "LUMORA.PACKED.7Z", "SETUP.EX_", false, u"", 0x1203, "LZX, window 2^18 (256 KiB)"},
      {"the smallest window", "--cabinet-compression=lzx:15", "B7", "BL", "LUMORA.PACKED.7Z",
       "SETUP.EX_", false, u"", 0x0F03, "LZX, window 2^15 (32 KiB)"},
      {"MSZIP", "--cabinet-compression mszip", "B7", "BL", "LUMORA.PACKED.7Z", "SETUP.EX_", false,
       u"", 0x0001, "MSZIP"},
      {"stored", "--cabinet-compression none", "B7", "BL", "LUMORA.PACKED.7Z", "SETUP.EX_", false,
       u"", 0x0000, "none"},
  };
  for (const Layout& l : layouts) {
    SCOPED_TRACE(l.what);
    const RunResult packed = Pack(Args(l.extra));
    ASSERT_EQ(packed.status, 0) << packed.err;
    const std::string root_only =
        "the stub works only from an installer folder of at most 3 characters";
    EXPECT_NE(packed.out.find(l.root_only ? "verdict: rejected: what the stub does depends on the "
                                            "installer's folder: " + root_only
                                          : "verdict: accepted"),
              std::string::npos)
        << packed.out;
    EXPECT_EQ(packed.err.find("lumora-pack: warning: " + root_only) != std::string::npos,
              l.root_only)
        << packed.err;

    InstallerReport report;
    std::string error;
    ASSERT_TRUE(InspectInstaller(Path("out.exe"), report, error)) << error;
    EXPECT_EQ(report.layout.verdict.accepted(), !l.root_only) << report.layout.verdict.reason;
    EXPECT_EQ(report.layout.verdict.FolderBound(), l.root_only) << report.layout.verdict.reason;
    EXPECT_EQ(PayloadTypeText(report.layout.verdict.archive_type), l.archive_type);
    EXPECT_EQ(PayloadTypeText(report.layout.verdict.setup_type), l.setup_type);
    EXPECT_EQ(report.layout.verdict.archive_name, U16(l.archive_name));
    EXPECT_EQ(report.layout.verdict.setup_name, U16(l.setup_name));
    ASSERT_EQ(report.layout.payload.size(), 2u);
    EXPECT_EQ(report.layout.has_previous_version, l.previous);
    EXPECT_EQ(report.layout.previous_version_valid, l.previous);
    EXPECT_EQ(report.layout.previous_version, l.previous_version);
    EXPECT_EQ(report.overlay, 0u);
    EXPECT_EQ(report.stored_checksum, report.computed_checksum);

    const std::vector<uint8_t> out = ReadFileBytes(Path("out.exe"));
    for (const Resource& m : report.layout.payload) {
      EXPECT_EQ(m.language, 1033);
      ASSERT_TRUE(m.mapped);
      const std::vector<uint8_t> data = Slice(out, m.file_offset, m.size);
      if (m.name.name() == U16(l.archive_name)) {
        EXPECT_EQ(data, archive_);
      } else if (l.setup_type == "BL") {
        const CabinetFile cab = ReadCabinet(data, dir_);
        ASSERT_TRUE(cab.ok);
        EXPECT_EQ(cab.name, "setup.exe");
        EXPECT_EQ(cab.attributes, 0x20u);
        EXPECT_EQ(cab.time, "2023-11-14 22:13:20");
        EXPECT_EQ(cab.compression, l.compression);
        EXPECT_EQ(cab.bytes, setup_);
      } else {
        EXPECT_EQ(data, setup_);
      }
    }
    const RunResult check = RunProgram(PackerCommand() + " check '" + Path("out.exe") + "'");
    EXPECT_EQ(check.status, l.root_only ? 1 : 0);
    EXPECT_NE(check.out.find("checksum: "), std::string::npos);
    EXPECT_NE(check.out.find("(correct)"), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("  " + l.archive_type + "  " + l.archive_name + "  " +
                             std::to_string(archive_.size()) + " bytes"),
              std::string::npos)
        << check.out;
    // The cabinet's compression, under the member that holds it, and only there.
    const size_t cabinet_line = check.out.find("\n    cabinet: ");
    if (l.compression_shown == nullptr) {
      EXPECT_EQ(cabinet_line, std::string::npos) << check.out;
    } else {
      EXPECT_NE(check.out.find("SETUP.EX_  "), std::string::npos);
      EXPECT_NE(check.out.find("expanded to setup.exe\n    cabinet: " +
                               std::string(l.compression_shown) + "\n"),
                std::string::npos)
          << check.out;
    }
  }
}

TEST_F(PackOutput, PayloadStartsOnPageBoundaries) {
  ASSERT_EQ(Pack(Args("--setup-type BN")).status, 0);
  const std::vector<uint8_t> out = ReadFileBytes(Path("out.exe"));
  InstallerReport report;
  std::string error;
  ASSERT_TRUE(InspectInstaller(Path("out.exe"), report, error)) << error;
  // Found by content, not by the packer's own account of where it put them.
  for (const std::vector<uint8_t>* member : {&archive_, &setup_}) {
    const auto at = std::search(out.begin(), out.end(), member->begin(), member->begin() + 256);
    ASSERT_NE(at, out.end());
    const uint64_t offset = static_cast<uint64_t>(at - out.begin());
    EXPECT_EQ(offset % 4096, 0u);
    bool reported = false;
    for (const Resource& m : report.layout.payload) {
      if (m.file_offset == offset) {
        reported = true;
        EXPECT_EQ(m.data_rva % 4096, 0u);
        EXPECT_EQ(m.size, member->size());
      }
    }
    EXPECT_TRUE(reported);
  }
}

TEST_F(PackOutput, SectionsMoveToPagesAndKeepTheirAddressesAndBytes) {
  ASSERT_EQ(Pack(Args("")).status, 0);
  const std::vector<uint8_t> stub_bytes = ReadFileBytes(LUMORA_STUB);
  const std::vector<uint8_t> out_bytes = ReadFileBytes(Path("out.exe"));
  InputFile stub_file, out_file;
  PeImage stub, out;
  std::string error;
  ASSERT_TRUE(stub_file.Open(LUMORA_STUB, error) && ReadPeImage(stub_file, stub, error)) << error;
  ASSERT_TRUE(out_file.Open(Path("out.exe"), error) && ReadPeImage(out_file, out, error)) << error;
  ASSERT_NE(stub.file_alignment, 4096u) << "the bare stub is linked small";
  EXPECT_EQ(out.file_alignment, 4096u);
  EXPECT_EQ(out.size_of_headers, 4096u);
  ASSERT_EQ(out.sections.size(), stub.sections.size() + 1);
  // Each section's bytes in the file at its own address, as in the stub, zeros after them; but
  // the stub's resource section, which keeps its addresses and loses its bytes. With offsets equal
  // to addresses, Wine maps the image from the file instead of reading it page by page.
  for (size_t i = 0; i < stub.sections.size(); ++i) {
    const PeSection& a = stub.sections[i];
    const PeSection& b = out.sections[i];
    SCOPED_TRACE(a.name);
    if (std::string(a.name) == ".rsrc") {
      EXPECT_STREQ(b.name, ".oldrsrc");
      EXPECT_EQ(b.virtual_address, a.virtual_address);
      EXPECT_EQ(b.virtual_size, std::max(a.virtual_size, a.raw_size));
      EXPECT_EQ(b.raw_offset, 0u);
      EXPECT_EQ(b.raw_size, 0u);
      EXPECT_EQ(b.characteristics, 0x40000080u) << "readable zero-filled memory";
      continue;
    }
    EXPECT_STREQ(b.name, a.name);
    EXPECT_EQ(b.virtual_address, a.virtual_address);
    EXPECT_EQ(b.virtual_size, a.virtual_size);
    EXPECT_EQ(b.raw_offset, b.virtual_address);
    EXPECT_EQ(b.raw_size, AlignUp(a.raw_size, 4096));
    EXPECT_EQ(Slice(out_bytes, b.raw_offset, a.raw_size), Slice(stub_bytes, a.raw_offset, a.raw_size));
    const std::vector<uint8_t> tail = Slice(out_bytes, b.raw_offset + a.raw_size, b.raw_size - a.raw_size);
    EXPECT_EQ(tail, std::vector<uint8_t>(b.raw_size - a.raw_size, 0));
  }
  EXPECT_EQ(out.sections.back().raw_offset, out.sections.back().virtual_address);
  EXPECT_STREQ(out.sections.back().name, ".rsrc");
  EXPECT_EQ(out.RawEnd(), out_bytes.size());
  // The directories that hold addresses (imports, relocations, the load configuration) stay as
  // they were; only the resource directory moves to the new section.
  for (uint32_t d = 0; d < 16; ++d) {
    uint32_t stub_rva = 0, stub_size = 0, out_rva = 0, out_size = 0;
    stub.Directory(d, stub_rva, stub_size);
    out.Directory(d, out_rva, out_size);
    if (d == kDirectoryResource) {
      EXPECT_EQ(out_rva, out.sections.back().virtual_address);
    } else {
      EXPECT_EQ(out_rva, stub_rva) << d;
      EXPECT_EQ(out_size, stub_size) << d;
    }
  }
  const RunResult check = RunProgram(PackerCommand() + " check '" + Path("out.exe") + "'");
  EXPECT_NE(check.out.find("sections: file alignment 4096, headers 4096 bytes, every section "
                           "page-aligned"), std::string::npos) << check.out;
  const RunResult bare = RunProgram(PackerCommand() + " check '" LUMORA_STUB "'");
  EXPECT_NE(bare.out.find("file alignment 512, headers 1024 bytes, not page-aligned"),
            std::string::npos) << bare.out;
}

TEST_F(PackOutput, HeadersWithoutSlackGrowToAPage) {
  // Headers that end right after the section table, as a linker with no slack would make them:
  // laid out again on a page, they take the new section's header.
  std::vector<uint8_t> stub = ReadFileBytes(LUMORA_STUB);
  const uint32_t nt = Load32(&stub[60]);
  const uint32_t table = nt + 24 + Load16(&stub[nt + 20]);
  Store32(&stub[nt + 24 + 60], table + Load16(&stub[nt + 6]) * 40);
  WriteFileBytes(Path("tight.exe"), stub);
  const RunResult r = Pack(Args("--stub tight.exe"));
  ASSERT_EQ(r.status, 0) << r.err;
  InstallerReport report;
  std::string error;
  ASSERT_TRUE(InspectInstaller(Path("out.exe"), report, error)) << error;
  EXPECT_TRUE(report.accepted());
  EXPECT_EQ(report.size_of_headers, 4096u);
  EXPECT_STREQ(report.sections.back().name, ".rsrc");
}

TEST_F(PackOutput, DebugDataMovesWithItsSection) {
  const std::vector<uint8_t> stub = WithDebugEntry(ReadFileBytes(LUMORA_STUB), false);
  WriteFileBytes(Path("debug-stub.exe"), stub);
  ASSERT_EQ(Pack(Args("--stub debug-stub.exe")).status, 0);
  const std::vector<uint8_t> out = ReadFileBytes(Path("out.exe"));
  const uint32_t optional = Load32(&out[60]) + 24;
  const uint32_t directory = Load32(&out[optional + 112 + 8 * 6]);
  const uint32_t entry = FileOffsetOf(out, directory);
  ASSERT_NE(entry, 0u);
  const uint32_t address = Load32(&out[entry + 20]), pointer = Load32(&out[entry + 24]);
  EXPECT_NE(pointer, Load32(&stub[FileOffsetOf(stub, directory) + 24])) << "the data has moved";
  EXPECT_EQ(pointer, FileOffsetOf(out, address));
  EXPECT_EQ(Slice(out, pointer, DebugData().size()), DebugData());
}

TEST_F(PackOutput, ApplicationIconAndVersionTakeTheStubsPlace) {
  const std::vector<IconShape> shapes = ApplicationIcon();
  WriteFileBytes(Path("app.ico"), IconFileBytes(shapes));
  const RunResult packed = Pack(Args(
      "--icon app.ico --product-name 'Contoso Viewer' --company-name 'Contoso Ltd.' "
      "--file-description 'Contoso Viewer Setup' --file-version 2.5.0.17 "
      "--product-version 2.5.0.0 --copyright '\xC2\xA9 2024 Contoso'"));
  ASSERT_EQ(packed.status, 0) << packed.err;
  InstallerReport report;
  std::string error;
  ASSERT_TRUE(InspectInstaller(Path("out.exe"), report, error)) << error;
  EXPECT_TRUE(report.accepted()) << report.layout.verdict.reason;
  // The icon: the stub's group name, the file's images in order, each in an RT_ICON of its own.
  ASSERT_TRUE(report.has_icon && report.icon_readable);
  EXPECT_EQ(KeyText(report.icon_group), "#107");
  ASSERT_EQ(report.icons.size(), shapes.size());
  const std::vector<uint8_t> out = ReadFileBytes(Path("out.exe"));
  size_t icons = 0;
  for (const Resource& r : report.layout.others) {
    if (!HasId(r.type, kRtIcon)) continue;
    ++icons;
    ASSERT_GE(r.name.id, 1);
    ASSERT_LE(r.name.id, shapes.size());
    EXPECT_EQ(Slice(out, r.file_offset, r.size), IconImageBytes(shapes[r.name.id - 1]));
  }
  EXPECT_EQ(icons, shapes.size()) << "the stub's own icon is gone";
  for (size_t i = 0; i < shapes.size(); ++i) {
    EXPECT_EQ(report.icons[i].width, shapes[i].size);
    EXPECT_EQ(report.icons[i].png, shapes[i].png);
  }
  // The version: the texts and numbers given, the stub's other texts kept.
  ASSERT_TRUE(report.has_version && report.version_readable);
  EXPECT_EQ(VersionNumberText(report.version.file_version), "2.5.0.17");
  EXPECT_EQ(VersionNumberText(report.version.product_version), "2.5.0.0");
  const RunResult check = RunProgram(PackerCommand() + " check '" + Path("out.exe") + "'");
  EXPECT_EQ(check.status, 0);
  for (const char* line :
       {"icon: group #107, 3 images: 16x16 32-bit, 32x32 8-bit, 256x256 32-bit PNG\n",
        "version: file 2.5.0.17, product 2.5.0.0\n", "  ProductName: \"Contoso Viewer\"\n",
        "  CompanyName: \"Contoso Ltd.\"\n", "  FileDescription: \"Contoso Viewer Setup\"\n",
        "  FileVersion: \"2.5.0.17\"\n", "  ProductVersion: \"2.5.0.0\"\n",
        "  LegalCopyright: \"\xC2\xA9 2024 Contoso\"\n", "  InternalName: \"lumora-stub\"\n"}) {
    EXPECT_NE(check.out.find(line), std::string::npos) << line << check.out;
  }
}

// The stub's own resources that make up its face, as the bare stub holds them.
std::vector<std::vector<uint8_t>> StubFaceBytes() {
  InputFile file;
  PeImage image;
  std::vector<Resource> listing;
  std::string error;
  EXPECT_TRUE(file.Open(LUMORA_STUB, error) && ReadPeImage(file, image, error) &&
              ReadResourceListing(image, file, listing, error))
      << error;
  const std::vector<uint8_t> stub = ReadFileBytes(LUMORA_STUB);
  std::vector<std::vector<uint8_t>> face;
  for (const Resource& r : listing) {
    if (HasId(r.type, kRtVersion) || HasId(r.type, kRtIcon) || HasId(r.type, kRtGroupIcon)) {
      face.push_back(Slice(stub, r.file_offset, r.size));
    }
  }
  return face;
}

const char kWholeFace[] =
    "--icon app.ico --product-name 'Contoso Viewer' --company-name 'Contoso Ltd.' "
    "--file-description 'Contoso Viewer Setup' --file-version 2.5.0.17 --product-version 2.5.0.0 "
    "--copyright 'Contoso Ltd.' --version-string OriginalFilename=contoso-setup.exe "
    "--version-string 'InternalName=contoso-setup'";

TEST_F(PackOutput, FullyBrandedInstallerKeepsNothingOfTheStubsFace) {
  WriteFileBytes(Path("app.ico"), IconFileBytes(ApplicationIcon()));
  const RunResult packed = Pack(Args(std::string(kWholeFace) + " --quiet"));
  ASSERT_EQ(packed.status, 0) << packed.err;
  EXPECT_EQ(packed.err, "") << "every text set: no warning";
  // Nowhere in the file: not the stub's version block, icons or icon group, nor its file name.
  const std::vector<uint8_t> out = ReadFileBytes(Path("out.exe"));
  const std::vector<std::vector<uint8_t>> face = StubFaceBytes();
  ASSERT_EQ(face.size(), 3u);
  for (const std::vector<uint8_t>& bytes : face) {
    ASSERT_GT(bytes.size(), 16u);
    EXPECT_EQ(std::search(out.begin(), out.end(), bytes.begin(), bytes.end()), out.end());
  }
  const std::u16string stub_name = u"lumora-stub";
  const auto* name = reinterpret_cast<const uint8_t*>(stub_name.data());
  EXPECT_EQ(std::search(out.begin(), out.end(), name, name + 2 * stub_name.size()), out.end());
  // 7-Zip reads the version texts from the section named ".rsrc": the installer's own.
  const RunResult listed = RunProgram("7zz l '" + Path("out.exe") + "'");
  ASSERT_EQ(listed.status, 0) << listed.err;
  for (const char* text : {"CompanyName: Contoso Ltd.", "ProductName: Contoso Viewer",
                           "OriginalFilename: contoso-setup.exe", "InternalName: contoso-setup",
                           "FileVersion: 2.5.0.17"}) {
    EXPECT_NE(listed.out.find(text), std::string::npos) << text << "\n" << listed.out;
  }
  for (const char* stale : {"Velmar", "Lumora", "lumora-stub"}) {
    EXPECT_EQ(listed.out.find(stale), std::string::npos) << stale << "\n" << listed.out;
  }
}

TEST_F(PackOutput, WarningsNameWhatStillShowsTheStub) {
  // No face options: the stub's face is kept on purpose, and nothing is said.
  const RunResult plain = Pack(Args("--quiet"));
  ASSERT_EQ(plain.status, 0);
  EXPECT_EQ(plain.err, "");
  const RunResult partial =
      Pack(Args("--quiet --product-name Contoso --version-string InternalName= "
                "--version-string Comments=Viewer"));
  ASSERT_EQ(partial.status, 0) << partial.err;
  const std::string warning = "lumora-pack: warning: ";
  EXPECT_EQ(partial.err,
            warning + "the icon is still the stub's own; set it with --icon FILE.ico\n" +
            warning + "the version text CompanyName still reads \"Velmar\", the stub's own; set "
                      "it with --company-name TEXT\n" +
            warning + "the version text FileDescription still reads \"Lumora Installer\", the "
                      "stub's own; set it with --file-description TEXT\n" +
            warning + "the version text FileVersion still reads \"1.0.0.0\", the stub's own; set "
                      "it with --file-version A.B.C.D\n" +
            warning + "the version text LegalCopyright still reads \"Velmar\", the stub's own; "
                      "set it with --copyright TEXT\n" +
            warning + "the version text OriginalFilename still reads \"lumora-stub.exe\", the "
                      "stub's own; set it with --version-string OriginalFilename=TEXT\n" +
            warning + "the version text ProductVersion still reads \"1.0.0.0\", the stub's own; "
                      "set it with --product-version A.B.C.D\n");
  // The text given empty is gone; the new key is there.
  const RunResult check = RunProgram(PackerCommand() + " check '" + Path("out.exe") + "'");
  EXPECT_EQ(check.out.find("InternalName"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("  Comments: \"Viewer\"\n"), std::string::npos) << check.out;
}

TEST_F(PackOutput, ChecksumMatchesIndependentComputations) {
  ASSERT_EQ(Pack(Args("--previous-version 3")).status, 0);
  const std::vector<uint8_t> out = ReadFileBytes(Path("out.exe"));
  InputFile file;
  PeImage image;
  std::string error;
  ASSERT_TRUE(file.Open(Path("out.exe"), error) && ReadPeImage(file, image, error)) << error;
  EXPECT_EQ(image.checksum, ReferenceChecksum(out));
  char expected[64];
  std::snprintf(expected, sizeof(expected), "PE checksum   : %08X", image.checksum);
  const RunResult verify = RunProgram("osslsigncode verify -in '" + Path("out.exe") + "'");
  EXPECT_NE(verify.out.find(expected), std::string::npos) << verify.out << verify.err;
}

TEST_F(PackOutput, StubResourcesAreKept) {
  ASSERT_EQ(Pack(Args("")).status, 0);
  InputFile stub_file, out_file;
  PeImage stub, out;
  std::vector<Resource> before, after;
  std::string error;
  ASSERT_TRUE(stub_file.Open(LUMORA_STUB, error) && ReadPeImage(stub_file, stub, error) &&
              ReadResourceListing(stub, stub_file, before, error))
      << error;
  ASSERT_TRUE(out_file.Open(Path("out.exe"), error) && ReadPeImage(out_file, out, error) &&
              ReadResourceListing(out, out_file, after, error))
      << error;
  ASSERT_GE(before.size(), 2u) << "the stub carries a manifest and a version block";
  const std::vector<uint8_t> stub_bytes = ReadFileBytes(LUMORA_STUB);
  const std::vector<uint8_t> out_bytes = ReadFileBytes(Path("out.exe"));
  for (const Resource& b : before) {
    SCOPED_TRACE(KeyText(b.type) + "/" + KeyText(b.name));
    auto match = std::find_if(after.begin(), after.end(), [&](const Resource& a) {
      return a.type == b.type && a.name == b.name && a.language == b.language;
    });
    ASSERT_NE(match, after.end());
    EXPECT_EQ(match->codepage, b.codepage);
    EXPECT_EQ(match->data_rva % 4, 0u);
    EXPECT_EQ(Slice(out_bytes, match->file_offset, match->size),
              Slice(stub_bytes, b.file_offset, b.size));
  }
  EXPECT_EQ(after.size(), before.size() + 2);
}

TEST_F(PackOutput, StubOverlayIsLeftOut) {
  std::vector<uint8_t> stub = ReadFileBytes(LUMORA_STUB);
  const std::vector<uint8_t> overlay = PatternBytes(1000, 9);
  // A COFF symbol table lies in the overlay, where an unstripped link puts it.
  const uint32_t nt = Load32(&stub[60]);
  Store32(&stub[nt + 4 + 8], static_cast<uint32_t>(stub.size()));
  Store32(&stub[nt + 4 + 12], 1000 / 18);
  stub.insert(stub.end(), overlay.begin(), overlay.end());
  WriteFileBytes(Path("overlay-stub.exe"), stub);
  ASSERT_EQ(Pack(Args("--stub overlay-stub.exe")).status, 0);
  InstallerReport report;
  std::string error;
  ASSERT_TRUE(InspectInstaller(Path("out.exe"), report, error)) << error;
  EXPECT_EQ(report.overlay, 0u);
  EXPECT_EQ(report.signature_size, 0u);
  EXPECT_EQ(report.stored_checksum, report.computed_checksum);
  const std::vector<uint8_t> out = ReadFileBytes(Path("out.exe"));
  EXPECT_EQ(std::search(out.begin(), out.end(), overlay.begin(), overlay.end()), out.end());
  EXPECT_EQ(Load32(&out[nt + 4 + 8]), 0u) << "no pointer to a symbol table left out";
  EXPECT_EQ(Load32(&out[nt + 4 + 12]), 0u);
}

// Run with the Windows build too (windows_packer_test): its installers sign and verify alike.
TEST_F(PackOutput, SignedInstallerVerifies) {
  ASSERT_EQ(Pack(Args("--previous-version 1.0")).status, 0);
  const std::string key = Path("key.pem"), cert = Path("cert.pem");
  ASSERT_EQ(RunProgram("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Lumora-Test "
                       "-keyout '" + key + "' -out '" + cert + "'")
                .status,
            0);
  const RunResult sign = RunProgram("osslsigncode sign -certs '" + cert + "' -key '" + key +
                                    "' -in '" + Path("out.exe") + "' -out '" + Path("signed.exe") + "'");
  ASSERT_EQ(sign.status, 0) << sign.out << sign.err;
  // The certificate signs itself; naming it as the trusted root lets the chain verify.
  const RunResult verify =
      RunProgram("osslsigncode verify -CAfile '" + cert + "' -in '" + Path("signed.exe") + "'");
  EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
  EXPECT_NE(verify.out.find("Signature verification: ok"), std::string::npos) << verify.out;

  InstallerReport report;
  std::string error;
  ASSERT_TRUE(InspectInstaller(Path("signed.exe"), report, error)) << error;
  EXPECT_TRUE(report.layout.verdict.accepted()) << report.layout.verdict.reason;
  EXPECT_NE(report.signature_size, 0u);
  EXPECT_EQ(report.stored_checksum, report.computed_checksum);
}

}  // namespace
