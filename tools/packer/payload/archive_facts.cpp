#include "payload/archive_facts.h"

#include <cstring>
#include <vector>

#include "delta/archive/patch_archive_format.h"
#include "lumora/setup_exit_codes.h"
#include "payload/reader_source.h"

namespace {

// The branch and delta filters of 7-Zip's method list: they reorder bytes for the compressor
// that follows them, and a report names them after it.
bool IsFilter(uint64_t method) {
  // BCJ, BCJ2, ARM64, Delta, RISCV, PPC, IA64, ARM, ARMT, SPARC.
  static const uint64_t kFilters[] = {kMethodX86, kMethodBcj2, kMethodArm64, 0x03,
                                      0x0B,       0x03030205,  0x03030401,   0x03030501,
                                      0x03030701, 0x03030805};
  for (const uint64_t filter : kFilters) {
    if (method == filter) return true;
  }
  return false;
}

bool HasDictionary(uint64_t method) { return method == kMethodLzma || method == kMethodLzma2; }

// "7-Zip's k and m": a dictionary of whole MiB as "64m", of whole KiB as "256k".
std::string ShortDictionary(uint64_t bytes) {
  if (bytes != 0 && bytes % (uint64_t{1} << 20) == 0) return std::to_string(bytes >> 20) + "m";
  if (bytes != 0 && bytes % 1024 == 0) return std::to_string(bytes >> 10) + "k";
  return std::to_string(bytes);
}

// Each method once, compressors before filters, in the order the folders name them; a method
// with a dictionary shows the largest it is given.
std::string MethodsText(const SevenZipArchive& archive) {
  struct Seen {
    uint64_t method;
    uint64_t dictionary;
  };
  std::vector<Seen> seen;
  for (const SevenZipFolder& folder : archive.folders) {
    for (const SevenZipCoder& coder : folder.coding.coders) {
      const uint64_t dictionary = DeclaredDictionary(coder);
      bool found = false;
      for (Seen& s : seen) {
        if (s.method != coder.method) continue;
        found = true;
        if (dictionary > s.dictionary) s.dictionary = dictionary;
      }
      if (!found) seen.push_back({coder.method, dictionary});
    }
  }
  if (seen.empty()) return "none (no file holds data)";
  std::string text;
  for (const bool filters : {false, true}) {
    for (const Seen& s : seen) {
      if (IsFilter(s.method) != filters) continue;
      std::string name = s.method == kMethodCopy ? "stored" : MethodName(s.method);
      if (HasDictionary(s.method)) name += ":" + ShortDictionary(s.dictionary);
      text += (text.empty() ? "" : " + ") + name;
    }
  }
  return text;
}

}  // namespace

ArchiveFacts ReadArchiveFacts(const ByteSource& archive) {
  ArchiveFacts facts;
  unsigned char start[sizeof(delta::kPatchMagic)] = {};
  std::string ignored;
  if (archive.size() >= sizeof(start) && archive.ReadAt(0, start, sizeof(start), ignored) &&
      std::memcmp(start, delta::kPatchMagic, sizeof(start)) == 0) {
    facts.format = ArchiveFacts::Format::kPatchArchive;
    return facts;
  }
  ReaderSource source(archive);
  SevenZipArchive listing;
  facts.check = CheckArchiveForInstall(source, listing);
  facts.setup_exit_code = SetupExitCodeFor(facts.check.status);
  facts.format = facts.check.status == SevenZipStatus::kNotSevenZip
                     ? ArchiveFacts::Format::kOther
                     : ArchiveFacts::Format::kSevenZip;
  // A refusal for a folder's method or memory comes after the header was read whole; one for
  // the header's own method (an encrypted header) leaves nothing listed.
  facts.listed = facts.check.status == SevenZipStatus::kOk ||
                 (facts.check.status == SevenZipStatus::kUnsupportedMethod &&
                  !listing.folders.empty());
  if (!facts.listed) return facts;
  facts.methods = MethodsText(listing);
  facts.dictionary = LargestDictionary(listing);
  facts.blocks = listing.folders.size();
  for (const SevenZipFile& file : listing.files) {
    if (file.is_directory) {
      ++facts.directories;
    } else {
      ++facts.files;
      facts.unpacked_size += file.size;
    }
  }
  return facts;
}

std::string SetupRefusalText(const ArchiveFacts& facts) {
  if (!facts.SetupRefuses()) return "";
  switch (facts.check.status) {
    case SevenZipStatus::kNotSevenZip:
      return "the archive is not a 7z archive";
    case SevenZipStatus::kUnsupported:
      return "the archive is a 7z archive with a feature beyond installing (a major version it "
             "does not know, deletions of an update, data outside the header, or more than " +
             std::to_string(kSevenZipMaxFiles) + " files or a header above " +
             std::to_string(kSevenZipMaxHeaderSize >> 20) + " MiB)";
    case SevenZipStatus::kUnsupportedMethod:
      if (facts.check.has_method) {
        return "the archive uses " + MethodName(facts.check.method) +
               ", a method the setup program does not decode (it installs LZMA, LZMA2, BCJ, "
               "BCJ2, ARM64 and stored data)";
      }
      if (!facts.listed) {
        return "the archive's header uses a method the setup program does not decode (an "
               "encrypted header)";
      }
      return "the archive's dictionary (" + DictionaryText(facts.dictionary) +
             ") is beyond what the setup program decodes (" +
             DictionaryText(kMaxDictionarySize) + ")";
    case SevenZipStatus::kTooLarge:
      return "the archive's compressed header needs more memory to decode than the setup "
             "program gives a header (" + DictionaryText(kSevenZipHeaderDecodeMemory) + ")";
    default:
      return "the archive's 7z header is damaged (a CRC, a size or an offset that does not hold, "
             "or a name it will not write)";
  }
}

const char* SetupExitCodeName(uint32_t code) {
  switch (code) {
    case SETUP_EXIT_ARCHIVE_REFUSED: return "SETUP_EXIT_ARCHIVE_REFUSED";
    case SETUP_EXIT_ARCHIVE_DAMAGED: return "SETUP_EXIT_ARCHIVE_DAMAGED";
    case SETUP_EXIT_METHOD_UNSUPPORTED: return "SETUP_EXIT_METHOD_UNSUPPORTED";
    case SETUP_EXIT_WRITE_FAILED: return "SETUP_EXIT_WRITE_FAILED";
    default: return nullptr;
  }
}

std::string DictionaryText(uint64_t bytes) {
  if (bytes != 0 && bytes % (uint64_t{1} << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
  if (bytes != 0 && bytes % 1024 == 0) return std::to_string(bytes >> 10) + " KiB";
  return std::to_string(bytes) + " bytes";
}
