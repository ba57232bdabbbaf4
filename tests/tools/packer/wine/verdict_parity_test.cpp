// The stub and lumora-pack check on the same bytes. A corpus of installers, made by pack where it
// can and otherwise by attaching resources through the platform's resource updater or by changing
// single fields of a packed installer (a few signed by osslsigncode, sign_corpus.sh), is judged by check --json of both builds (the Linux build
// by the verdict_check_linux step before this test, the Windows build here, under Wine) and then
// run by the stub under Wine, with the full exit code and the extra read back from the updater's
// key. Where check accepts, the stub must run the setup program; where it refuses, the stub must
// end with exactly the code and extra that check predicted. Where check says that the outcome
// depends on the machine (a name in several languages, a setup program for another processor),
// the row says what the stub does under Wine. Where the stub's outcome comes from Wine's own
// libraries rather than from our code, the row says so. Where the setup program is the one we
// ship and check predicts that it refuses the archive, the setup program runs (without the test
// switch that skips installing) and the run must end with exactly its predicted code.
//
//   verdict_parity_test --make-corpus   writes the corpus (the verdict_corpus step)
//   verdict_parity_test                 the test
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "installer/run/installer_runs.h"
#include "lumora/exit_codes.h"
#include "lumora/setup_exit_codes.h"
#include "payload/cabinet_writer.h"
#include "support/file_bytes.h"
#include "support/hostile_names.h"
#include "support/json_reader.h"

namespace {

using namespace installer_runs;

constexpr uint32_t kBadExeFormat = 193;             // ERROR_BAD_EXE_FORMAT
constexpr uint32_t kInvalidData = 13;               // ERROR_INVALID_DATA

std::wstring Corpus(const std::wstring& name) {
  return std::wstring(LUMORA_VERDICT_DIR) + L"\\" + name;
}

// --- what each installer is and what must happen ------------------------------------------------

enum class Expect {
  kAccepted,  // check accepts; the stub runs the setup program
  kExits,     // check predicts code and extra; the stub ends with them
  kDepends,   // check names what the outcome depends on; under Wine the stub does wine_*
  kUnfit,     // check refuses the image itself (its signature), not the payload; the stub runs
  kSetupExits,  // check predicts that our setup program refuses the archive with code; it runs
};

struct Row {
  const char* name;  // the installer is NAME.exe in the corpus
  const char* what;
  Expect expect;
  uint32_t code;  // kExits: the predicted exit code and extra
  uint32_t extra;
  // Under Wine, where it is not what check predicts for every machine: the exit code and extra
  // (code 0: the setup program runs), and why.
  bool wine_own;
  uint32_t wine_code;
  uint32_t wine_extra;
  const char* wine_why;
  bool patch;  // a "B7" patch: the installed setup program is set up for the stub to find
};

Row Accepted(const char* name, const char* what, bool patch = false) {
  return {name, what, Expect::kAccepted, 0, 0, false, 0, 0, nullptr, patch};
}
Row Exits(const char* name, const char* what, uint32_t code, uint32_t extra) {
  return {name, what, Expect::kExits, code, extra, false, 0, 0, nullptr, false};
}
Row Depends(const char* name, const char* what, uint32_t wine_code, uint32_t wine_extra,
            const char* why) {
  return {name, what, Expect::kDepends, 0, 0, true, wine_code, wine_extra, why, false};
}
Row SetupExits(const char* name, const char* what, uint32_t code) {
  return {name, what, Expect::kSetupExits, code, 0, false, 0, 0, nullptr, false};
}
Row Unfit(const char* name, const char* what) {
  return {name, what, Expect::kUnfit, 0, 0, false, 0, 0, nullptr, false};
}
Row WineOwn(Row row, uint32_t wine_code, uint32_t wine_extra, const char* why) {
  row.wine_own = true;
  row.wine_code = wine_code;
  row.wine_extra = wine_extra;
  row.wine_why = why;
  return row;
}

// The rows of the shared hostile names, by their index in the table.
const std::vector<std::string>& HostileRowNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> all;
    for (size_t i = 0; i < std::size(kHostileNames); ++i) {
      char name[32];
      std::snprintf(name, sizeof(name), "hostile_%02u", static_cast<unsigned>(i));
      all.push_back(name);
    }
    return all;
  }();
  return names;
}

std::vector<Row> Rows() {
  std::vector<Row> rows = {
      // Made by pack.
      Accepted("pack_shipped", "shipped layout: B7 archive, BL cabinet (LZX), previous version"),
      Accepted("pack_mszip", "the setup program in an MSZIP cabinet"),
      Accepted("pack_plain", "both members in BN"),
      Accepted("pack_patch", "a B7 patch applied by the installed setup program", true),
      Accepted("pack_cabinet_as_is", "a setup file that is already a cabinet, taken as it is"),
      Accepted("pack_lzx_as_is", "an LZX cabinet taken as it is"),
      Accepted("pack_version", "an ordinary previous version"),
      // Where the work directory beside the installer leaves room only from short folders: check
      // names the longest, and the stub, run from this test's deeper folder, runs out of room.
      Depends("folder_version", "a previous version of 937 units: from a folder of 6 units at most",
              EXIT_COMMAND_LINE_TOO_LONG, 0, "the test's folder is longer than 6 units"),
      // Signed by osslsigncode (sign_corpus.sh), after the rest of the corpus is made.
      Accepted("sig_sha512", "the shipped installer signed with SHA-512"),
      Unfit("sig_grown", "the certificate table grown by 512 bytes, the entry's length unchanged"),
      Unfit("sig_second", "a second certificate entry appended"),
      Unfit("sig_revision", "a certificate entry of revision 0x0100"),
      Depends("folder_archive_name", "an archive name of 243 units: from a drive's root alone",
              EXIT_PATH_TOO_LONG, 0, "the test's folder is not a drive's root"),
      // The setup program the stub starts ("BN", or what a "BL" cabinet expands to).
      Exits("bn_text", "a text file as the setup program", EXIT_SETUP_LAUNCH_FAILED, kBadExeFormat),
      Exits("bn_swapped", "the archive as the setup program (inputs swapped)",
            EXIT_SETUP_LAUNCH_FAILED, kBadExeFormat),
      Exits("bn_dll", "an x64 DLL as the setup program", EXIT_SETUP_LAUNCH_FAILED, kBadExeFormat),
      Depends("bn_dos", "a DOS program as the setup program", EXIT_SETUP_NOT_FOUND,
              FILE_ATTRIBUTE_ARCHIVE,
              "Wine looks for its DOS support, which is not installed; 64-bit Windows refuses it"),
      Depends("bn_x86", "an x86 program as the setup program", EXIT_SETUP_LAUNCH_FAILED,
              ERROR_INTERNAL_ERROR,
              "this Wine has no 32-bit support; 64-bit Windows runs it"),
      Depends("bn_arm64", "an ARM64 program as the setup program", EXIT_SETUP_LAUNCH_FAILED,
              kBadExeFormat, "Wine on x64 refuses it; ARM64 Windows runs it"),
      Exits("bl_text", "a cabinet that expands to a text file", EXIT_SETUP_LAUNCH_FAILED,
            kBadExeFormat),
      // Cabinets as the stub's expansion reads them.
      Accepted("bl_mszip", "an MSZIP cabinet"),
      Accepted("bl_stored", "a cabinet without compression"),
      Accepted("bl_lzx", "an LZX cabinet"),
      Accepted("bl_two_files", "a cabinet of two files: only the first is expanded"),
      // Cabinets the shared rules refuse before any cabinet library reads them.
      Exits("bl_second_damaged", "a cabinet whose second file's block fails its checksum",
            EXIT_SETUP_UNPACK_FAILED, kInvalidData),
      Exits("bl_continues_to_next", "a first file marked as continuing into a next cabinet",
            EXIT_SETUP_UNPACK_FAILED, kInvalidData),
      Exits("bl_garbage", "\"MSCF\" followed by garbage", EXIT_SETUP_UNPACK_FAILED, kInvalidData),
      Exits("bl_truncated", "a cabinet cut to 60 %", EXIT_SETUP_UNPACK_FAILED, kInvalidData),
      Exits("bl_checksum", "a data block that fails its checksum", EXIT_SETUP_UNPACK_FAILED,
            kInvalidData),
      Exits("bl_no_file", "a cabinet with a folder but no file", EXIT_SETUP_UNPACK_FAILED,
            kInvalidData),
      Exits("bl_continued", "a first file continued from a previous cabinet",
            EXIT_SETUP_UNPACK_FAILED, kInvalidData),
      // Wine's cabinet library read through a null folder here and the process died.
      Exits("bl_no_folder", "a cabinet with a file but no folder", EXIT_SETUP_UNPACK_FAILED,
            kInvalidData),
      Exits("cab_version_14", "format version 1.4", EXIT_SETUP_UNPACK_FAILED, kInvalidData),
      Exits("cab_size_field_62", "a cabinet-size field of 62", EXIT_SETUP_UNPACK_FAILED,
            kInvalidData),
      Exits("cab_stored_sizes_differ", "a stored block whose two sizes differ, its bytes intact",
            EXIT_SETUP_UNPACK_FAILED, kInvalidData),
      Exits("cab_mszip_declares_2", "an MSZIP block declaring 2 expanded bytes that decodes 64",
            EXIT_SETUP_UNPACK_FAILED, kInvalidData),
      Exits("cab_mszip_flipped_no_sum", "an MSZIP block with three flipped bits and checksum 0",
            EXIT_SETUP_UNPACK_FAILED, kInvalidData),
      Exits("cab_quantum_10", "Quantum with a window of 2^10 bytes", EXIT_SETUP_UNPACK_FAILED,
            kInvalidData),
      Exits("cab_one_of_29_blocks", "a block count of 1 with 29 blocks present",
            EXIT_SETUP_UNPACK_FAILED, kInvalidData),
      Exits("cab_last_block_short", "the last MSZIP block 16 bytes short",
            EXIT_SETUP_UNPACK_FAILED, kInvalidData),
      Exits("cab_first_offset", "the first file at offset 0x7FFFFFF0 of its folder",
            EXIT_SETUP_UNPACK_FAILED, kInvalidData),
      Exits("cab_name_300", "a file name of 300 bytes", EXIT_SETUP_UNPACK_FAILED, kInvalidData),
      Exits("cab_name_empty", "an empty file name", EXIT_SETUP_UNPACK_FAILED, kInvalidData),
      Exits("cab_folder_1_of_1", "a file in folder 1 of 1", EXIT_SETUP_UNPACK_FAILED,
            kInvalidData),
      // Resource directories the shared rules refuse before anything reads a resource.
      Exits("res_type_with_zero", "a named type \"B7\\0X\" between \"B7\" and \"BL\"",
            EXIT_ARCHIVE_UNPACK_FAILED, kInvalidData),
      Exits("res_named_count", "the type table's named count 1 with 2 present",
            EXIT_ARCHIVE_UNPACK_FAILED, kInvalidData),
      Exits("res_empty_languages", "a name \"AAAA\" with an empty language table before the archive",
            EXIT_ARCHIVE_UNPACK_FAILED, kInvalidData),
      Exits("res_hash_name", "a name \"#5\" and id 5 in \"B7\", the archive in \"BN\"",
            EXIT_ARCHIVE_UNPACK_FAILED, kInvalidData),
      Exits("res_two_b7", "two \"B7\" type entries", EXIT_ARCHIVE_UNPACK_FAILED, kInvalidData),
      Exits("res_rcdata_twice", "two RT_RCDATA type entries", EXIT_ARCHIVE_UNPACK_FAILED,
            kInvalidData),
      Exits("res_rcdata_id_twice", "RT_RCDATA 1 twice", EXIT_ARCHIVE_UNPACK_FAILED, kInvalidData),
      // The settings read RT_RCDATA 1 first: this crashed the stub at its start with 0xC0000005.
      Exits("res_version_far", "RT_RCDATA 1 at RVA 0x10000000", EXIT_ARCHIVE_UNPACK_FAILED,
            kInvalidData),
      Exits("res_version_huge", "RT_RCDATA 1 of 0x7FFFFFF0 bytes", EXIT_ARCHIVE_UNPACK_FAILED,
            kInvalidData),
      Exits("res_third_bl_name", "a third \"BL\" name \"SETUP\u00e9\"", EXIT_ARCHIVE_UNPACK_FAILED,
            kInvalidData),
      Exits("res_lower_name", "\"Z\u00e9\" in \"B7\"", EXIT_ARCHIVE_UNPACK_FAILED, kInvalidData),
      Exits("res_ids_out_of_order", "RT_RCDATA ids 2 before 1", EXIT_ARCHIVE_UNPACK_FAILED,
            kInvalidData),
      Exits("res_name_to_data", "an unrelated type whose name entry points straight at data",
            EXIT_ARCHIVE_UNPACK_FAILED, kInvalidData),
      Accepted("res_built", "the same builder's directory without a fault"),
      Exits("bl_named_setup_exe", "a cabinet named as the file it expands into",
            EXIT_SETUP_UNPACK_FAILED, 0),
      // Languages: which one the loader hands the stub depends on the machine.
      Depends("lang_cabinet_then_text", "SETUP.EX_: a cabinet in 0x407, a text file in 0x409",
              EXIT_SETUP_UNPACK_FAILED, kInvalidData,
              "Wine's loader picks 0x409, the text, which the stub's cabinet check refuses"),
      Depends("lang_text_then_cabinet", "SETUP.EX_: a text file in 0x407, a cabinet in 0x409", 0,
              0, "Wine's loader picks 0x409, the cabinet"),
      Depends("lang_version", "RT_RCDATA 1: \"1.0.0.0\" in 0x407, 1000 units in 0x409",
              EXIT_COMMAND_LINE_TOO_LONG, 0, "Wine's loader picks 0x409, the long one"),
      Depends("lang_archive", "the archive in two languages", 0, 0,
              "both hold an archive; the stub runs the setup program either way under Wine"),
      // Previous versions the setup command line cannot carry.
      Exits("version_injected", "a quote that injects switches", EXIT_COMMAND_LINE_TOO_LONG, 0),
      Exits("version_backslash", "a final backslash", EXIT_COMMAND_LINE_TOO_LONG, 0),
      Exits("version_escape", "ESC and CR drawing a fake verdict", EXIT_COMMAND_LINE_TOO_LONG, 0),
      Exits("version_too_long", "1,100 units", EXIT_COMMAND_LINE_TOO_LONG, 0),
      // The scan.
      Exits("scan_unknown", "an unknown name beside the archive", EXIT_ARCHIVE_UNPACK_FAILED, 13),
      Exits("scan_unknown_after", "an unknown name after the archive's type",
            EXIT_SETUP_UNPACK_FAILED, 13),
      Exits("scan_two_archives", "two archives in one type", EXIT_ARCHIVE_UNPACK_FAILED, 68),
      Exits("scan_two_types", "archives in B7 and BN", EXIT_SETUP_UNPACK_FAILED, 68),
      Exits("scan_no_setup", "no setup program", EXIT_SETUP_UNPACK_FAILED, 2),
      Exits("scan_no_archive", "no archive", EXIT_ARCHIVE_UNPACK_FAILED, 2),
      Exits("scan_name_260", "a name of 260 units", EXIT_ARCHIVE_UNPACK_FAILED, 206),
      // Members as the loader maps the image.
      // A member beyond its section's memory: the directory is refused before any write.
      Exits("vs_cabinet_cut", "the section's virtual size (and the image) ends where the cabinet "
            "starts", EXIT_ARCHIVE_UNPACK_FAILED, kInvalidData),
      Exits("vs_archive_cut", "the section's virtual size (and the image) ends within the archive",
            EXIT_ARCHIVE_UNPACK_FAILED, kInvalidData),
      Exits("vs_cabinet_zeros", "the virtual size ends within the cabinet, the image goes on: "
            "zeros in its place", EXIT_ARCHIVE_UNPACK_FAILED, kInvalidData),
      Accepted("vs_last_page", "the virtual size ends one byte before the cabinet does (the page "
               "holds it)"),
      Accepted("vs_zero", "a virtual size of 0 (the file's size counts)"),
      Exits("vs_archive_rva", "the archive's data address beyond the image",
            EXIT_ARCHIVE_UNPACK_FAILED, kInvalidData),
      // Archives that the setup program we ship cannot install, beside it ("BN"): 7-Zip's
      // methods it does not decode, a damaged header, a file that is no 7z archive.
      SetupExits("archive_ppmd", "PPMd", SETUP_EXIT_METHOD_UNSUPPORTED),
      SetupExits("archive_bzip2", "BZip2", SETUP_EXIT_METHOD_UNSUPPORTED),
      SetupExits("archive_deflate", "Deflate", SETUP_EXIT_METHOD_UNSUPPORTED),
      SetupExits("archive_encrypted", "files encrypted with AES (-p)",
                 SETUP_EXIT_METHOD_UNSUPPORTED),
      SetupExits("archive_encrypted_header", "the header encrypted too (-mhe=on)",
                 SETUP_EXIT_METHOD_UNSUPPORTED),
      SetupExits("archive_damaged_header", "a byte of the stored archive's header changed",
                 SETUP_EXIT_ARCHIVE_DAMAGED),
      SetupExits("archive_not_7z", "a text file as the archive", SETUP_EXIT_ARCHIVE_REFUSED),
  };
  // The shared table of hostile names.
  for (size_t i = 0; i < std::size(kHostileNames); ++i) {
    const HostileName& h = kHostileNames[i];
    const char* name = HostileRowNames()[i].c_str();
    // A name the directory check refuses ends the whole run before the scan meets it.
    if (h.directory_refuses) {
      rows.push_back(Exits(name, h.what, kMalformedDirectory.code, kMalformedDirectory.extra));
      continue;
    }
    rows.push_back(h.code == EXIT_OK ? Accepted(name, h.what)
                                     : Exits(name, h.what, h.code, h.extra));
  }
  return rows;
}

// --- making the corpus -----------------------------------------------------------------------------

// Runs program (a full path) with the arguments in the corpus directory, standard output into a
// file; its exit code, and what it wrote.
uint32_t RunCapturing(const std::wstring& program, const std::wstring& arguments,
                      std::string& output) {
  const std::wstring out_path = Corpus(L"capture.tmp");
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE out = CreateFileW(out_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return kNoExitCode;
  const uint32_t code = ChildProcess(program, arguments, nullptr, LUMORA_VERDICT_DIR, out).Wait();
  CloseHandle(out);
  const std::vector<uint8_t> bytes = FileBytes(out_path);
  output.assign(bytes.begin(), bytes.end());
  DeleteFileW(out_path.c_str());
  return code;
}

struct Attached {
  const wchar_t* type;  // a string type, or MAKEINTRESOURCEW
  const wchar_t* name;
  WORD language;
  std::vector<uint8_t> bytes;
};

// A copy of the bare stub with the resources attached through the platform's resource updater.
bool Attach(const std::wstring& name, const std::vector<Attached>& resources) {
  const std::wstring path = Corpus(name + L".exe");
  if (!CopyFileW(LUMORA_STUB_WPATH, path.c_str(), FALSE)) return false;
  HANDLE update = BeginUpdateResourceW(path.c_str(), FALSE);
  if (update == nullptr) return false;
  for (const Attached& r : resources) {
    if (!UpdateResourceW(update, r.type, r.name, r.language, const_cast<uint8_t*>(r.bytes.data()),
                         static_cast<DWORD>(r.bytes.size()))) {
      EndUpdateResourceW(update, TRUE);
      return false;
    }
  }
  return EndUpdateResourceW(update, FALSE) != FALSE;
}

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<uint8_t> Utf16(const std::wstring& text) {
  const auto* first = reinterpret_cast<const uint8_t*>(text.c_str());
  return std::vector<uint8_t>(first, first + (text.size() + 1) * sizeof(wchar_t));
}

// The resource's bytes, found in the image as the stub finds them.
std::vector<uint8_t> ResourceOf(const std::wstring& image, const wchar_t* name,
                                const wchar_t* type) {
  std::vector<uint8_t> bytes;
  HMODULE module = LoadLibraryExW(image.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) return bytes;
  HRSRC found = FindResourceW(module, name, type);
  const auto* data = found != nullptr
                         ? static_cast<const uint8_t*>(LockResource(LoadResource(module, found)))
                         : nullptr;
  if (data != nullptr) bytes.assign(data, data + SizeofResource(module, found));
  FreeLibrary(module);
  return bytes;
}

// Block checksums computed as cabinet libraries check them (cab::Build leaves them 0).
uint32_t CabinetSum(const uint8_t* data, size_t size, uint32_t seed) {
  uint32_t sum = seed;
  size_t at = 0;
  for (; at + 4 <= size; at += 4) {
    sum ^= data[at] | data[at + 1] << 8 | data[at + 2] << 16 | uint32_t{data[at + 3]} << 24;
  }
  uint32_t tail = 0;
  for (; at < size; ++at) tail = (tail << 8) | data[at];
  return sum ^ tail;
}

// Sets every block's checksum of a one-folder cabinet without reserved fields; returns the
// offsets of the block headers.
std::vector<size_t> SetChecksums(std::vector<uint8_t>& cabinet) {
  std::vector<size_t> headers;
  size_t at = cab::Get32(cabinet, 36);
  const uint16_t blocks = cab::Get16(cabinet, 40);
  for (uint16_t i = 0; i < blocks; ++i) {
    const uint16_t size = cab::Get16(cabinet, at + 4);
    const uint32_t sum = CabinetSum(&cabinet[at + 4], 4, CabinetSum(&cabinet[at + 8], size, 0));
    for (int k = 0; k < 4; ++k) cabinet[at + k] = static_cast<uint8_t>(sum >> (8 * k));
    headers.push_back(at);
    at += 8 + size;
  }
  return headers;
}

void Store16(std::vector<uint8_t>& bytes, size_t at, uint16_t value) {
  bytes[at] = static_cast<uint8_t>(value);
  bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}
void Store32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (int k = 0; k < 4; ++k) bytes[at + k] = static_cast<uint8_t>(value >> (8 * k));
}

// The packed installer's last section (.rsrc), which holds the payload: where its header lies,
// and its fields.
struct PayloadSection {
  size_t header = 0;
  uint32_t address = 0, raw_offset = 0, raw_size = 0;
  size_t size_of_image_at = 0;
};

PayloadSection FindPayloadSection(const std::vector<uint8_t>& image) {
  PayloadSection s;
  const uint32_t nt = cab::Get32(image, 60);
  const uint16_t sections = cab::Get16(image, nt + 6);
  const uint16_t optional = cab::Get16(image, nt + 20);
  s.size_of_image_at = nt + 24 + 56;
  s.header = nt + 24 + optional + 40u * (sections - 1u);
  s.address = cab::Get32(image, s.header + 12);
  s.raw_size = cab::Get32(image, s.header + 16);
  s.raw_offset = cab::Get32(image, s.header + 20);
  return s;
}

// The address of bytes found in the payload section's file data.
uint32_t AddressOf(const std::vector<uint8_t>& image, const PayloadSection& s,
                   const std::vector<uint8_t>& member) {
  const auto found = std::search(image.begin() + s.raw_offset, image.end(), member.begin(),
                                 member.begin() + std::min<size_t>(member.size(), 512));
  return static_cast<uint32_t>(found - image.begin()) - s.raw_offset + s.address;
}

std::vector<uint8_t> WithVirtualSize(std::vector<uint8_t> image, uint32_t virtual_size,
                                     bool fit_image) {
  const PayloadSection s = FindPayloadSection(image);
  Store32(image, s.header + 8, virtual_size);
  if (fit_image) Store32(image, s.size_of_image_at, s.address + ((virtual_size + 0xFFF) & ~0xFFFu));
  return image;
}

// --- resource directories laid out by hand ---------------------------------------------------------

// A type, name or language: a string, or (text empty) an identifier.
struct Key {
  std::u16string text;
  uint16_t id = 0;
};
Key Named(const char16_t* text) { return {text, 0}; }
Key Id(uint16_t id) { return {u"", id}; }

struct LanguageNode {
  uint16_t id = 1033;
  const std::vector<uint8_t>* data = nullptr;
  // Set: the data entry says this instead of where the data lies.
  uint32_t rva = 0, size = 0;
};
struct NameNode {
  Key key;
  std::vector<LanguageNode> languages;
  bool straight_to_data = false;  // the name's entry points at a data entry, not a table
};
struct TypeNode {
  Key key;
  std::vector<NameNode> names;
};

void Put16At(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  bytes[at] = static_cast<uint8_t>(value);
  bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}
void Put32At(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (int k = 0; k < 4; ++k) bytes[at + k] = static_cast<uint8_t>(value >> (8 * k));
}

// The directory of the types given, entries in the order given, tables in the order of a
// breadth-first walk as resource compilers lay them out; data RVAs from section_rva.
// named_types, when not negative, is the root table's count of named entries.
std::vector<uint8_t> BuildDirectory(uint32_t section_rva, const std::vector<TypeNode>& types,
                                    int named_types = -1) {
  std::vector<uint8_t> d;
  auto table = [&](const std::vector<bool>& named) {
    const size_t at = d.size();
    d.resize(at + 16 + 8 * named.size());
    Put16At(d, at + 12, static_cast<uint32_t>(std::count(named.begin(), named.end(), true)));
    Put16At(d, at + 14, static_cast<uint32_t>(std::count(named.begin(), named.end(), false)));
    return static_cast<uint32_t>(at);
  };
  std::vector<bool> type_kinds;
  for (const TypeNode& t : types) type_kinds.push_back(!t.key.text.empty());
  const uint32_t root = table(type_kinds);
  // The same entries, counted otherwise: some names counted among the identifiers.
  if (named_types >= 0) {
    Put16At(d, root + 12, static_cast<uint32_t>(named_types));
    Put16At(d, root + 14, static_cast<uint32_t>(types.size() - named_types));
  }
  std::vector<uint32_t> name_tables;
  for (const TypeNode& t : types) {
    std::vector<bool> kinds;
    for (const NameNode& n : t.names) kinds.push_back(!n.key.text.empty());
    name_tables.push_back(table(kinds));
  }
  std::vector<std::vector<uint32_t>> language_tables(types.size());
  for (size_t t = 0; t < types.size(); ++t) {
    for (const NameNode& n : types[t].names) {
      language_tables[t].push_back(
          n.straight_to_data ? 0 : table(std::vector<bool>(n.languages.size(), false)));
    }
  }
  struct Pending {
    uint32_t entry;
    const LanguageNode* language;
  };
  std::vector<Pending> data_entries;
  auto data_entry = [&](const LanguageNode& l) {
    const uint32_t at = static_cast<uint32_t>(d.size());
    d.resize(at + 16);
    data_entries.push_back({at, &l});
    return at;
  };
  auto key_field = [&](const Key& key) -> uint32_t {
    if (key.text.empty()) return key.id;
    const uint32_t at = static_cast<uint32_t>(d.size());
    d.resize(at + 2 + 2 * key.text.size());
    Put16At(d, at, static_cast<uint32_t>(key.text.size()));
    for (size_t i = 0; i < key.text.size(); ++i) Put16At(d, at + 2 + 2 * i, key.text[i]);
    d.resize((d.size() + 3) & ~size_t{3});
    return 0x80000000u | at;
  };
  for (size_t t = 0; t < types.size(); ++t) {
    Put32At(d, root + 16 + 8 * t + 4, 0x80000000u | name_tables[t]);
    const std::vector<NameNode>& names = types[t].names;
    for (size_t n = 0; n < names.size(); ++n) {
      const uint32_t entry = name_tables[t] + 16 + 8 * static_cast<uint32_t>(n);
      if (names[n].straight_to_data) {
        Put32At(d, entry + 4, data_entry(names[n].languages.front()));
        continue;
      }
      Put32At(d, entry + 4, 0x80000000u | language_tables[t][n]);
      for (size_t l = 0; l < names[n].languages.size(); ++l) {
        const uint32_t at = language_tables[t][n] + 16 + 8 * static_cast<uint32_t>(l);
        Put32At(d, at, names[n].languages[l].id);
        Put32At(d, at + 4, data_entry(names[n].languages[l]));
      }
    }
  }
  // Names after every table and data entry.
  for (size_t t = 0; t < types.size(); ++t) {
    Put32At(d, root + 16 + 8 * t, key_field(types[t].key));
    for (size_t n = 0; n < types[t].names.size(); ++n) {
      Put32At(d, name_tables[t] + 16 + 8 * n, key_field(types[t].names[n].key));
    }
  }
  for (const Pending& p : data_entries) {
    d.resize((d.size() + 7) & ~size_t{7});
    const uint32_t at = static_cast<uint32_t>(d.size());
    const std::vector<uint8_t>& data = *p.language->data;
    d.insert(d.end(), data.begin(), data.end());
    Put32At(d, p.entry, p.language->rva != 0 ? p.language->rva : section_rva + at);
    Put32At(d, p.entry + 4,
            p.language->size != 0 ? p.language->size : static_cast<uint32_t>(data.size()));
  }
  return d;
}

// The image's sections end here; the next one starts at the next section alignment.
uint32_t NextSectionRva(const std::vector<uint8_t>& image) {
  const uint32_t nt = cab::Get32(image, 60);
  const uint16_t count = cab::Get16(image, nt + 6);
  const uint32_t table = nt + 24 + cab::Get16(image, nt + 20);
  const uint32_t alignment = cab::Get32(image, nt + 24 + 32);
  uint64_t end = 0;
  for (uint16_t i = 0; i < count; ++i) {
    const size_t s = table + 40u * i;
    end = std::max<uint64_t>(end, uint64_t{cab::Get32(image, s + 12)} +
                                      std::max(cab::Get32(image, s + 8), cab::Get32(image, s + 16)));
  }
  return static_cast<uint32_t>((end + alignment - 1) / alignment * alignment);
}

// The bare stub with the directory as a new last section, named by the resource data directory
// (the stub's own resources stay behind, unnamed).
std::vector<uint8_t> WithDirectory(const std::vector<TypeNode>& types, int named_types = -1) {
  std::vector<uint8_t> image = FileBytes(LUMORA_STUB_WPATH);
  const uint32_t rva = NextSectionRva(image);
  const std::vector<uint8_t> directory = BuildDirectory(rva, types, named_types);
  const uint32_t nt = cab::Get32(image, 60);
  const uint32_t optional = nt + 24;
  const uint16_t count = cab::Get16(image, nt + 6);
  const uint32_t header = optional + cab::Get16(image, nt + 20) + 40u * count;
  const uint32_t file_alignment = cab::Get32(image, optional + 36);
  const uint32_t section_alignment = cab::Get32(image, optional + 32);
  auto align = [](uint64_t value, uint32_t to) {
    return static_cast<uint32_t>((value + to - 1) / to * to);
  };
  const uint32_t raw_offset = align(image.size(), file_alignment);
  const uint32_t raw_size = align(directory.size(), file_alignment);
  std::copy_n(".rsrc2\0\0", 8, image.begin() + header);
  Put32At(image, header + 8, static_cast<uint32_t>(directory.size()));
  Put32At(image, header + 12, rva);
  Put32At(image, header + 16, raw_size);
  Put32At(image, header + 20, raw_offset);
  Put32At(image, header + 36, 0x40000040);
  Put16At(image, nt + 6, count + 1u);
  Put32At(image, optional + 56, align(uint64_t{rva} + directory.size(), section_alignment));
  Put32At(image, optional + 112 + 8 * 2, rva);
  Put32At(image, optional + 112 + 8 * 2 + 4, static_cast<uint32_t>(directory.size()));
  image.resize(raw_offset, 0);
  image.insert(image.end(), directory.begin(), directory.end());
  image.resize(raw_offset + raw_size, 0);
  return image;
}

// A cabinet's first file entry's name replaced, the offsets after it moved along.
std::vector<uint8_t> WithFirstFileName(std::vector<uint8_t> cabinet, const std::string& name) {
  const size_t entry = cab::FirstFileEntry(cabinet);
  const size_t old_length = std::strlen(reinterpret_cast<const char*>(&cabinet[entry + 16]));
  cabinet.erase(cabinet.begin() + entry + 16, cabinet.begin() + entry + 16 + old_length);
  cabinet.insert(cabinet.begin() + entry + 16, name.begin(), name.end());
  const int64_t shift = static_cast<int64_t>(name.size()) - static_cast<int64_t>(old_length);
  Put32At(cabinet, 8, static_cast<uint32_t>(cab::Get32(cabinet, 8) + shift));
  Put32At(cabinet, 36, static_cast<uint32_t>(cab::Get32(cabinet, 36) + shift));
  return cabinet;
}

bool MakeCorpus() {
  const std::wstring dir = LUMORA_VERDICT_DIR;
  CreateDirectoryW(dir.c_str(), nullptr);
  const std::vector<uint8_t> setup = FileBytes(LUMORA_SETUP_PATH);
  // A stored 7z archive, which the setup program we ship installs: every installer of ours but
  // the rows of refused archives carries it.
  const std::vector<uint8_t> archive = FileBytes(LUMORA_VERDICT_ARCHIVES L"\\app.7z");
  const std::vector<uint8_t> text = Bytes("a setup program that is a text file\r\n");
  const std::vector<uint8_t> patch = Bytes("sample patch: the installed setup program rebuilds it\n");
  if (setup.empty() || archive.empty() || !WriteBytes(Corpus(L"setup.exe"), setup) ||
      !WriteBytes(Corpus(L"app.7z"), archive)) {
    return false;
  }
  std::string out;
  auto pack = [&](const wchar_t* name, const std::wstring& extra) {
    const uint32_t code =
        RunCapturing(LUMORA_PACK_EXE, L"pack --stub \"" + std::wstring(LUMORA_STUB_WPATH) +
                                          L"\" --archive app.7z --cabinet-time 1700000000 " +
                                          extra + L" --output " + name + L".exe",
                     out);
    if (code != 0) std::printf("pack %ls: %s\n", name, out.c_str());
    return code == 0;
  };
  // Cabinets, in the packer's MSZIP and in the test writer's stored and LZX forms.
  const std::vector<cab::File> one = {{"setup.exe", setup}};
  std::vector<uint8_t> stored = cab::Build(one, cab::kNone);
  std::vector<uint8_t> lzx = cab::Build(one, cab::kLzx18);
  SetChecksums(stored);
  SetChecksums(lzx);
  if (!WriteBytes(Corpus(L"setup.cab"), stored) || !WriteBytes(Corpus(L"setup-lzx.cab"), lzx)) {
    return false;
  }
  bool ok = pack(L"pack_shipped", L"--setup setup.exe --previous-version 1.2.3.4") &&
            pack(L"pack_mszip", L"--setup setup.exe --cabinet-compression mszip") &&
            pack(L"pack_plain", L"--setup setup.exe --archive-type BN --setup-type BN") &&
            pack(L"pack_patch", L"--setup app.7z --archive-type BL --setup-type B7 "
                                L"--previous-version 1.2.3.4") &&
            pack(L"pack_cabinet_as_is", L"--setup setup.cab") &&
            pack(L"pack_lzx_as_is", L"--setup setup-lzx.cab") &&
            pack(L"pack_version", L"--setup setup.exe --previous-version \"2.0 beta\"") &&
            pack(L"folder_version", L"--setup setup.exe --archive-name lumora.7z "
                                    L"--previous-version " + std::wstring(937, L'1')) &&
            pack(L"folder_archive_name",
                 L"--setup setup.exe --archive-name lumora" + std::wstring(237, L'a'));
  if (!ok) return false;
  const std::wstring shipped = Corpus(L"pack_shipped.exe");
  const std::vector<uint8_t> shipped_cabinet = ResourceOf(shipped, L"SETUP.EX_", L"BL");
  const std::vector<uint8_t> mszip = ResourceOf(Corpus(L"pack_mszip.exe"), L"SETUP.EX_", L"BL");
  if (shipped_cabinet.empty() || mszip.empty()) return false;

  auto installer = [&](const wchar_t* name, const wchar_t* setup_type,
                       const std::vector<uint8_t>& setup_bytes,
                       std::vector<Attached> more = {}) {
    std::vector<Attached> resources = {{L"B7", L"LUMORA.PACKED.7Z", 1033, archive},
                                       {setup_type, std::wcscmp(setup_type, L"BL") == 0
                                                        ? L"SETUP.EX_"
                                                        : L"SETUP.EXE",
                                        1033, setup_bytes}};
    resources.insert(resources.end(), more.begin(), more.end());
    return Attach(name, resources);
  };
  // Archives beside our setup program that it refuses.
  auto beside_ours = [&](const wchar_t* name, const std::vector<uint8_t>& bytes) {
    return !bytes.empty() && Attach(name, {{L"B7", L"LUMORA.PACKED.7Z", 1033, bytes},
                                           {L"BN", L"SETUP.EXE", 1033, setup}});
  };
  std::vector<uint8_t> damaged_header = archive;
  damaged_header[damaged_header.size() - 3] ^= 0x40;  // the header ends the archive
  if (!beside_ours(L"archive_damaged_header", damaged_header) ||
      !beside_ours(L"archive_not_7z", text)) {
    return false;
  }
  for (const wchar_t* method :
       {L"ppmd", L"bzip2", L"deflate", L"encrypted", L"encrypted_header"}) {
    const std::wstring file = std::wstring(LUMORA_VERDICT_ARCHIVES) + L"\\" + method + L".7z";
    if (!beside_ours((L"archive_" + std::wstring(method)).c_str(), FileBytes(file))) return false;
  }
  const std::vector<uint8_t> dll = FileBytes(LUMORA_LAYOUT_DLL);
  std::vector<uint8_t> dos(128, 0);
  dos[0] = 'M';
  dos[1] = 'Z';
  ok = installer(L"bn_text", L"BN", text) && installer(L"bn_swapped", L"BN", archive) &&
       installer(L"bn_dll", L"BN", dll) && installer(L"bn_dos", L"BN", dos) &&
       installer(L"bn_x86", L"BN", FileBytes(LUMORA_FOREIGN_WDIR L"\\x86.exe")) &&
       installer(L"bn_arm64", L"BN", FileBytes(LUMORA_FOREIGN_WDIR L"\\arm64.exe")) &&
       installer(L"bl_text", L"BL", cab::Build({{"setup.exe", text}}, cab::kNone)) &&
       installer(L"bl_mszip", L"BL", mszip) && installer(L"bl_stored", L"BL", stored) &&
       installer(L"bl_lzx", L"BL", lzx);
  if (!ok) return false;

  // The second file fills blocks of its own after the one the first file ends in.
  const std::vector<uint8_t> second(3 * cab::kFrame, 0x42);
  std::vector<uint8_t> two = cab::Build({{"setup.exe", setup}, {"second.bin", second}}, cab::kNone);
  SetChecksums(two);
  std::vector<uint8_t> second_damaged = two;
  const size_t last = SetChecksums(second_damaged).back();
  second_damaged[last] ^= 0x5A;
  std::vector<uint8_t> checksum = stored;
  checksum[SetChecksums(checksum).front()] ^= 0x5A;
  std::vector<uint8_t> no_file = stored, continued = stored, to_next = stored;
  Store16(no_file, 28, 0);
  // The packer's cabinet without its one folder entry: the file names folder 0 of none.
  std::vector<uint8_t> no_folder = mszip;
  no_folder.erase(no_folder.begin() + 36, no_folder.begin() + 44);
  Store16(no_folder, 26, 0);
  Store32(no_folder, 16, cab::Get32(no_folder, 16) - 8);
  Store32(no_folder, 8, cab::Get32(no_folder, 8) - 8);
  Store16(continued, cab::FirstFileEntry(continued) + 8, 0xFFFD);
  Store16(to_next, cab::FirstFileEntry(to_next) + 8, 0xFFFE);
  std::vector<uint8_t> garbage = Bytes("MSCF");
  garbage.resize(2000, 0x17);
  const std::vector<uint8_t> truncated(mszip.begin(), mszip.begin() + mszip.size() * 6 / 10);
  ok = installer(L"bl_two_files", L"BL", two) &&
       installer(L"bl_second_damaged", L"BL", second_damaged) &&
       installer(L"bl_continues_to_next", L"BL", to_next) &&
       installer(L"bl_garbage", L"BL", garbage) && installer(L"bl_truncated", L"BL", truncated) &&
       installer(L"bl_checksum", L"BL", checksum) && installer(L"bl_no_file", L"BL", no_file) &&
       installer(L"bl_continued", L"BL", continued) &&
       installer(L"bl_no_folder", L"BL", no_folder) &&
       Attach(L"bl_named_setup_exe", {{L"B7", L"LUMORA.PACKED.7Z", 1033, archive},
                                      {L"BL", L"SETUP.EXE", 1033, mszip}});
  if (!ok) return false;

  // Cabinets that the shared rules refuse, each from the packer's MSZIP cabinet or a written one.
  auto changed = [&](std::vector<uint8_t> cabinet, size_t at, uint32_t value, int bytes) {
    if (bytes == 2) Store16(cabinet, at, static_cast<uint16_t>(value));
    if (bytes == 4) Store32(cabinet, at, value);
    return cabinet;
  };
  const size_t first_entry = cab::FirstFileEntry(mszip);
  const size_t first_block = cab::Get32(mszip, 36);
  std::vector<uint8_t> stored_sizes = stored;
  {
    const size_t last_block = SetChecksums(stored_sizes).back();
    Store16(stored_sizes, last_block + 6, cab::Get16(stored_sizes, last_block + 6) - 1);
    SetChecksums(stored_sizes);
  }
  // One MSZIP block of 64 bytes (a stored deflate block after "CK") that declares 2.
  std::vector<uint8_t> declares_2 = cab::Build({{"setup.exe", std::vector<uint8_t>(64, 'Z')}},
                                               cab::kNone);
  {
    const size_t block = cab::Get32(declares_2, 36);
    std::vector<uint8_t> frame = {'C', 'K', 0x01, 64, 0, 0xBF, 0xFF};
    frame.insert(frame.end(), 64, 'Z');
    declares_2.resize(block + 8);
    declares_2.insert(declares_2.end(), frame.begin(), frame.end());
    Store16(declares_2, 42, 1);  // MSZIP
    Store16(declares_2, block + 4, static_cast<uint16_t>(frame.size()));
    Store16(declares_2, block + 6, 2);
    Store32(declares_2, 8, static_cast<uint32_t>(declares_2.size()));
    SetChecksums(declares_2);
  }
  std::vector<uint8_t> flipped = mszip;
  for (size_t bit : {40u, 1000u, 4000u}) flipped[first_block + 8 + bit / 8] ^= 1 << (bit % 8);
  Store32(flipped, first_block, 0);
  std::vector<uint8_t> padded = setup;
  padded.resize(29 * cab::kFrame - 100, 0x5A);
  const std::vector<uint8_t> blocks_29 = changed(cab::Build({{"setup.exe", padded}}, cab::kNone),
                                                 40, 1, 2);
  const std::vector<uint8_t> short_last(mszip.begin(), mszip.end() - 16);
  ok = installer(L"cab_version_14", L"BL", changed(mszip, 24, 0x0104, 2)) &&
       installer(L"cab_size_field_62", L"BL", changed(mszip, 8, 62, 4)) &&
       installer(L"cab_stored_sizes_differ", L"BL", stored_sizes) &&
       installer(L"cab_mszip_declares_2", L"BL", declares_2) &&
       installer(L"cab_mszip_flipped_no_sum", L"BL", flipped) &&
       installer(L"cab_quantum_10", L"BL", changed(mszip, 42, 2 | (10 << 8), 2)) &&
       installer(L"cab_one_of_29_blocks", L"BL", blocks_29) &&
       installer(L"cab_last_block_short", L"BL", short_last) &&
       installer(L"cab_first_offset", L"BL", changed(mszip, first_entry + 4, 0x7FFFFFF0, 4)) &&
       installer(L"cab_name_300", L"BL", WithFirstFileName(mszip, std::string(300, 'A'))) &&
       installer(L"cab_name_empty", L"BL", WithFirstFileName(mszip, "")) &&
       installer(L"cab_folder_1_of_1", L"BL", changed(mszip, first_entry + 8, 1, 2));
  if (!ok) return false;

  // Resource directories that the shared rules refuse, laid out by hand beside one that passes.
  const std::vector<uint8_t> version = Utf16(L"1.2.3.4");
  const LanguageNode archive_data{1033, &archive}, cabinet_data{1033, &mszip},
      text_data{1033, &text}, version_data{1033, &version};
  const TypeNode b7 = {Named(u"B7"), {{Named(u"LUMORA.PACKED.7Z"), {archive_data}}}};
  const TypeNode bl = {Named(u"BL"), {{Named(u"SETUP.EX_"), {cabinet_data}}}};
  const TypeNode rcdata_type = {Id(10), {{Id(1), {version_data}}}};
  LanguageNode distant = version_data, oversized = version_data;
  distant.rva = 0x10000000;
  oversized.size = 0x7FFFFFF0;
  auto write = [&](const wchar_t* name, const std::vector<uint8_t>& image) {
    return WriteBytes(Corpus(std::wstring(name) + L".exe"), image);
  };
  ok = write(L"res_built", WithDirectory({b7, bl, rcdata_type})) &&
       write(L"res_type_with_zero",
             WithDirectory({b7, {Key{std::u16string(u"B7\0X", 4)}, {{Named(u"X"), {text_data}}}},
                            bl})) &&
       write(L"res_named_count", WithDirectory({b7, bl}, 1)) &&
       write(L"res_empty_languages",
             WithDirectory({{Named(u"B7"), {{Named(u"AAAA"), {}}, b7.names[0]}}, bl})) &&
       write(L"res_hash_name",
             WithDirectory({{Named(u"B7"), {{Named(u"#5"), {text_data}}, {Id(5), {text_data}}}},
                            bl,
                            {Named(u"BN"), b7.names}})) &&
       write(L"res_two_b7", WithDirectory({b7, b7, bl})) &&
       write(L"res_rcdata_twice", WithDirectory({b7, bl, rcdata_type, rcdata_type})) &&
       write(L"res_rcdata_id_twice",
             WithDirectory({b7, bl, {Id(10), {{Id(1), {version_data}}, {Id(1), {version_data}}}}})) &&
       write(L"res_version_far", WithDirectory({b7, bl, {Id(10), {{Id(1), {distant}}}}})) &&
       write(L"res_version_huge", WithDirectory({b7, bl, {Id(10), {{Id(1), {oversized}}}}})) &&
       write(L"res_third_bl_name",
             WithDirectory({b7,
                            {Named(u"BL"),
                             {{Named(u"SETUP.A"), {text_data}},
                              bl.names[0],
                              {Named(u"SETUP\u00e9"), {text_data}}}}})) &&
       write(L"res_lower_name",
             WithDirectory({{Named(u"B7"), {b7.names[0], {Named(u"Z\u00e9"), {text_data}}}}, bl})) &&
       write(L"res_ids_out_of_order",
             WithDirectory({b7, bl, {Id(10), {{Id(2), {version_data}}, {Id(1), {version_data}}}}})) &&
       write(L"res_name_to_data",
             WithDirectory({b7, bl, {Id(99), {{Id(1), {text_data}, true}}}}));
  if (!ok) return false;

  const LPCWSTR rcdata = MAKEINTRESOURCEW(10), one_id = MAKEINTRESOURCEW(1);
  ok = Attach(L"lang_cabinet_then_text", {{L"B7", L"LUMORA.PACKED.7Z", 1033, archive},
                                          {L"BL", L"SETUP.EX_", 0x407, mszip},
                                          {L"BL", L"SETUP.EX_", 0x409, text}}) &&
       Attach(L"lang_text_then_cabinet", {{L"B7", L"LUMORA.PACKED.7Z", 1033, archive},
                                          {L"BL", L"SETUP.EX_", 0x407, text},
                                          {L"BL", L"SETUP.EX_", 0x409, mszip}}) &&
       installer(L"lang_version", L"BL", mszip,
                 {{rcdata, one_id, 0x407, Utf16(L"1.0.0.0")},
                  {rcdata, one_id, 0x409, Utf16(std::wstring(1000, L'1'))}}) &&
       Attach(L"lang_archive", {{L"B7", L"LUMORA.PACKED.7Z", 0x407, archive},
                                {L"B7", L"LUMORA.PACKED.7Z", 0x409, archive},
                                {L"BL", L"SETUP.EX_", 1033, mszip}});
  if (!ok) return false;
  auto versioned = [&](const wchar_t* name, const std::wstring& version) {
    return installer(name, L"BL", mszip, {{rcdata, one_id, 1033, Utf16(version)}});
  };
  ok = versioned(L"version_injected",
                 L"1.0.0.0\" --system-level --uncompressed-archive=\"C:\\evil.7z") &&
       versioned(L"version_backslash", L"1.0\\") &&
       versioned(L"version_escape", L"1.0\x1B[2J\rverdict: accepted") &&
       versioned(L"version_too_long", std::wstring(1100, L'1'));
  if (!ok) return false;

  ok = Attach(L"scan_unknown", {{L"B7", L"LUMORA.PACKED.7Z", 1033, archive},
                                {L"B7", L"README.TXT", 1033, text},
                                {L"BL", L"SETUP.EX_", 1033, mszip}}) &&
       Attach(L"scan_unknown_after", {{L"B7", L"LUMORA.PACKED.7Z", 1033, archive},
                                      {L"BL", L"README.TXT", 1033, text}}) &&
       Attach(L"scan_two_archives", {{L"B7", L"LUMORA.A", 1033, archive},
                                     {L"B7", L"LUMORA.B", 1033, archive},
                                     {L"BL", L"SETUP.EX_", 1033, mszip}}) &&
       Attach(L"scan_two_types", {{L"B7", L"LUMORA.PACKED.7Z", 1033, archive},
                                  {L"BL", L"SETUP.EX_", 1033, mszip},
                                  {L"BN", L"LUMORA.OTHER", 1033, archive}}) &&
       Attach(L"scan_no_setup", {{L"B7", L"LUMORA.PACKED.7Z", 1033, archive}}) &&
       Attach(L"scan_no_archive", {{L"BL", L"SETUP.EX_", 1033, mszip}}) &&
       Attach(L"scan_name_260", {{L"B7", (L"LUMORA" + std::wstring(254, L'X')).c_str(), 1033,
                                  archive},
                                 {L"BL", L"SETUP.EX_", 1033, mszip}});
  if (!ok) return false;

  // Single fields of the packed shipped installer.
  const std::vector<uint8_t> image = FileBytes(shipped);
  const PayloadSection s = FindPayloadSection(image);
  const uint32_t cabinet_at = AddressOf(image, s, shipped_cabinet) - s.address;
  const uint32_t archive_at = AddressOf(image, s, archive) - s.address;
  const uint32_t cabinet_end = cabinet_at + static_cast<uint32_t>(shipped_cabinet.size());
  std::vector<uint8_t> archive_rva = image;
  {
    // The archive's data entry: its RVA and size, found by the size in the resource section.
    const uint32_t rva = AddressOf(image, s, archive);
    for (size_t at = s.raw_offset; at + 8 <= image.size(); at += 4) {
      if (cab::Get32(image, at) == rva && cab::Get32(image, at + 4) == archive.size()) {
        Store32(archive_rva, at, 0xFFFFF000u);
        break;
      }
    }
  }
  ok = WriteBytes(Corpus(L"vs_cabinet_cut.exe"), WithVirtualSize(image, cabinet_at, true)) &&
       WriteBytes(Corpus(L"vs_archive_cut.exe"),
                  WithVirtualSize(image, archive_at + 0x1000, true)) &&
       WriteBytes(Corpus(L"vs_cabinet_zeros.exe"),
                  WithVirtualSize(image, cabinet_at + 0x2000, false)) &&
       WriteBytes(Corpus(L"vs_last_page.exe"), WithVirtualSize(image, cabinet_end - 1, true)) &&
       WriteBytes(Corpus(L"vs_zero.exe"), WithVirtualSize(image, 0, false)) &&
       WriteBytes(Corpus(L"vs_archive_rva.exe"), archive_rva);
  if (!ok) return false;

  // The shared hostile names, attached as the stub's tests attach them.
  for (size_t i = 0; i < std::size(kHostileNames); ++i) {
    const HostileName& h = kHostileNames[i];
    const wchar_t* name = reinterpret_cast<const wchar_t*>(h.name);
    const bool hostile_archive = h.member == PayloadMember::kArchive;
    const wchar_t* setup_type = PayloadTypeName(h.setup_type).wide;
    const std::vector<uint8_t>& setup_bytes = h.setup_type == PayloadType::kCabinet ? mszip
                                              : h.setup_type == PayloadType::kPacked ? patch
                                                                                     : setup;
    const std::string& row_name = HostileRowNames()[i];
    const std::wstring row(row_name.begin(), row_name.end());
    if (!Attach(row, {{L"B7", hostile_archive ? name : L"LUMORA.PACKED.7Z", 1033, archive},
                      {setup_type, hostile_archive ? L"SETUP.EX_" : name, 1033, setup_bytes}})) {
      return false;
    }
  }
  return true;
}

// --- the test ---------------------------------------------------------------------------------------

std::string ReadText(const std::wstring& path) {
  const std::vector<uint8_t> bytes = FileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

class VerdictParity : public testing::TestWithParam<Row> {
 protected:
  void SetUp() override {
    state_.Remove();
    SetCleanupSwitch(nullptr);
  }
  void TearDown() override { state_.Remove(); }
  ClientState state_;
};

TEST_P(VerdictParity, TheStubDoesWhatCheckSays) {
  const Row& row = GetParam();
  const std::wstring file = Wide(row.name) + L".exe";
  ASSERT_TRUE(ScratchDirectory::Exists(Corpus(file))) << "not in the corpus: " << row.name;

  // Both builds of check give the same report.
  const std::string linux_report = ReadText(Corpus(Wide(row.name) + L".linux.json"));
  ASSERT_FALSE(linux_report.empty()) << "no report of the Linux build (verdict_check_linux)";
  std::string windows_report;
  const uint32_t status = RunCapturing(LUMORA_PACK_EXE, L"check --json " + file, windows_report);
  EXPECT_EQ(windows_report, linux_report) << "the two builds of check differ";
  json::Value report;
  ASSERT_TRUE(json::Parse(windows_report, report)) << windows_report;
  const json::Value& verdict = report["verdict"];
  EXPECT_EQ(report["status"].text, std::to_string(status));
  const bool accepted = verdict["accepted"].boolean;
  const bool predicts = !verdict["stub_exit_code"].IsNull();
  const bool depends = !verdict["depends_on"].IsNull();
  switch (row.expect) {
    case Expect::kAccepted:
      EXPECT_TRUE(accepted) << verdict["reason"].text;
      EXPECT_EQ(status, 0u);
      break;
    case Expect::kExits:
      EXPECT_FALSE(accepted);
      ASSERT_TRUE(predicts) << verdict["reason"].text;
      EXPECT_EQ(verdict["stub_exit_code"].text, std::to_string(row.code)) << verdict["reason"].text;
      EXPECT_EQ(verdict["stub_error"].text, std::to_string(row.extra)) << verdict["reason"].text;
      EXPECT_EQ(status, 1u);
      break;
    case Expect::kDepends:
      EXPECT_FALSE(accepted);
      EXPECT_FALSE(predicts);
      EXPECT_TRUE(depends) << verdict["reason"].text;
      EXPECT_EQ(status, 1u);
      break;
    case Expect::kSetupExits:
      EXPECT_FALSE(accepted);
      ASSERT_TRUE(predicts) << verdict["reason"].text;
      EXPECT_TRUE(verdict["setup_refuses"].boolean) << verdict["reason"].text;
      EXPECT_EQ(verdict["stub_exit_code"].text, std::to_string(row.code)) << verdict["reason"].text;
      EXPECT_EQ(verdict["stub_error"].text, "0") << verdict["reason"].text;
      EXPECT_EQ(report["archive"]["setup_exit_code"].text, std::to_string(row.code));
      EXPECT_EQ(status, 1u);
      break;
    case Expect::kUnfit:
      EXPECT_FALSE(accepted);
      EXPECT_FALSE(predicts);
      EXPECT_FALSE(depends) << verdict["reason"].text;
      EXPECT_NE(verdict["reason"].text.find("certificate"), std::string::npos)
          << verdict["reason"].text;
      EXPECT_EQ(status, 1u);
      break;
  }

  // The stub on the same bytes.
  std::wstring dir;
  RunOutcome run;
  for (int tries = 0; tries < 2; ++tries) {
    state_.Remove();
    ASSERT_TRUE(state_.SetText(kApValue, L""));
    dir = FreshDirectory(std::string("verdict_") + row.name);
    ASSERT_TRUE(CopyFileW(Corpus(file).c_str(), (dir + kInstallerName).c_str(), FALSE));
    if (row.patch) {
      InstallSetupProgram(dir);
      ASSERT_TRUE(state_.SetText(kUninstallStringValue, dir + L"installed\\1.2.3.4\\setup.exe"));
    }
    // The setup program judges the archive only when it is not told to skip installing; a
    // refused archive leaves nothing written.
    wchar_t skip[8] = {};
    const bool skipping =
        GetEnvironmentVariableW(L"LUMORA_SETUP_TEST_SKIP_INSTALL", skip, 8) != 0;
    if (row.expect == Expect::kSetupExits) {
      SetEnvironmentVariableW(L"LUMORA_SETUP_TEST_SKIP_INSTALL", nullptr);
    }
    run = RunInstaller(dir, L"");
    if (skipping) SetEnvironmentVariableW(L"LUMORA_SETUP_TEST_SKIP_INSTALL", skip);
    // A setup program that Wine fails to start now and then (see installer_runs.h); the x86
    // program fails so for good, and still gets its second run.
    if (!WineFailedToStartAFreshProgram(run, state_)) break;
  }
  const bool setup_ran = !run.setup_commands.empty();
  const uint32_t recorded = state_.Dword(kInstallerExtraCode1Value);
  if (row.wine_own) {
    SCOPED_TRACE(row.wine_why);
    EXPECT_EQ(run.exit_code, row.wine_code) << std::hex << "0x" << run.exit_code;
    EXPECT_EQ(setup_ran, row.wine_code == 0);
    if (row.wine_code != 0) EXPECT_EQ(recorded, row.wine_extra);
  } else if (row.expect == Expect::kSetupExits) {
    EXPECT_TRUE(setup_ran) << "check predicts the setup program's code, and the stub ended with "
                           << run.exit_code << " without running it";
    EXPECT_EQ(std::to_string(run.exit_code), verdict["stub_exit_code"].text);
    EXPECT_EQ(std::to_string(recorded), verdict["stub_error"].text);
  } else if (accepted || row.expect == Expect::kUnfit) {
    EXPECT_TRUE(setup_ran) << "check accepts, and the stub ended with " << run.exit_code
                           << " (extra " << recorded << ") without running the setup program";
    EXPECT_EQ(run.exit_code, 0u);
  } else {
    EXPECT_FALSE(setup_ran) << "check refuses, and the stub ran the setup program";
    EXPECT_EQ(std::to_string(run.exit_code), verdict["stub_exit_code"].text);
    EXPECT_EQ(std::to_string(recorded), verdict["stub_error"].text);
  }
}

// A resource directory the stub refuses ends the run where the archive's failures do: after the
// switches were read (a refused switch still wins, and records nothing), with the failure
// recorded and nothing left in the installer's folder. The previous version lies outside the
// image here: read before the check, it crashed the stub at its start.
TEST(VerdictCorpus, ARefusedDirectoryEndsTheRunInTheArchivesPlace) {
  struct Case {
    const wchar_t* arguments;
    uint32_t code;
    uint32_t recorded_error;  // InstallerError
    uint32_t recorded_extra;  // InstallerExtraCode1
  };
  const Case cases[] = {
      {L"", EXIT_ARCHIVE_UNPACK_FAILED, EXIT_ARCHIVE_UNPACK_FAILED, kInvalidData},
      {L"--cleanup", EXIT_UNSUPPORTED_SWITCH, kNone, kNone},
  };
  ClientState state;
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.arguments));
    state.Remove();
    ASSERT_TRUE(state.SetText(kApValue, L""));
    const std::wstring dir = FreshDirectory("verdict_order");
    ASSERT_TRUE(CopyFileW(Corpus(L"res_version_far.exe").c_str(), (dir + kInstallerName).c_str(),
                          FALSE));
    const RunOutcome run = RunInstaller(dir, c.arguments);
    EXPECT_EQ(run.exit_code, c.code);
    EXPECT_TRUE(run.setup_commands.empty());
    EXPECT_EQ(run.left_over, std::vector<std::wstring>{});
    EXPECT_EQ(state.Dword(kInstallerErrorValue), c.recorded_error);
    EXPECT_EQ(state.Dword(kInstallerExtraCode1Value), c.recorded_extra);
  }
  state.Remove();
}

std::string RowName(const testing::TestParamInfo<Row>& info) { return info.param.name; }

void PrintTo(const Row& row, std::ostream* out) { *out << row.name << ": " << row.what; }

INSTANTIATE_TEST_SUITE_P(Corpus, VerdictParity, testing::ValuesIn(Rows()), RowName);

TEST(VerdictCorpus, HoldsAtLeastFortyInstallersAndEveryOneHasARow) {
  const std::vector<Row> rows = Rows();
  EXPECT_GE(rows.size(), 40u);
  size_t files = 0;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(Corpus(L"*.exe").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  do {
    const std::wstring name(found.cFileName);
    if (name == L"setup.exe") continue;
    ++files;
    const std::wstring stem = name.substr(0, name.size() - 4);
    EXPECT_TRUE(std::any_of(rows.begin(), rows.end(),
                            [&](const Row& r) { return Wide(r.name) == stem; }))
        << "no row for " << Narrow(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  EXPECT_EQ(files, rows.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--make-corpus") == 0) {
    if (!MakeCorpus()) {
      std::printf("the corpus could not be made\n");
      return 1;
    }
    return 0;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
