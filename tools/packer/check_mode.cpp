#include "check_mode.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "file_io.h"
#include "pe_checksum.h"
#include "pe_image.h"
#include "resource_tree.h"

namespace {

// The most of the previous version that is read back; the stub takes any length, but a version
// string longer than this is not something a person reads.
constexpr uint32_t kMaxShownVersion = 64 * 1024;
constexpr uint32_t kCopyChunk = 4 << 20;

bool ComputeChecksum(const InputFile& file, const PeImage& image, uint32_t& checksum,
                     std::string& error) {
  PeChecksum sum;
  std::vector<uint8_t> buffer(kCopyChunk);
  const uint64_t field = image.optional_offset + kChecksumFieldOffset;
  for (uint64_t at = 0; at < file.size();) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), file.size() - at));
    if (!file.ReadAt(at, buffer.data(), n, error)) return false;
    for (uint64_t i = std::max(at, field); i < std::min(at + n, field + 4); ++i) buffer[i - at] = 0;
    sum.Add(buffer.data(), n);
    at += n;
  }
  checksum = sum.Finish();
  return true;
}

// Windows finds a resource by a binary search over the sorted names of a directory, with the
// name it is given upper-cased; a name stored out of order or in lower case is enumerated but
// not found again. This repeats that search over the names as stored.
bool LoaderFinds(const std::vector<std::u16string>& stored, const std::u16string& wanted) {
  const std::u16string key = AsciiUpper(wanted);
  size_t low = 0, high = stored.size();
  while (low < high) {
    const size_t middle = (low + high) / 2;
    if (stored[middle] == key) return true;
    if (stored[middle] < key) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return false;
}

std::string Hex(uint64_t value) {
  char text[32];
  std::snprintf(text, sizeof(text), "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

bool InspectInstaller(const std::string& path, InstallerReport& report, std::string& error,
                      bool compute_checksum) {
  report = InstallerReport();
  report.path = path;
  InputFile file;
  PeImage image;
  std::vector<ListedResource> listing;
  if (!file.Open(path, error) || !ReadPeImage(file, image, error) ||
      !ReadResourceListing(image, file, listing, error) ||
      (compute_checksum && !ComputeChecksum(file, image, report.computed_checksum, error))) {
    return false;
  }
  report.checksum_computed = compute_checksum;
  report.file_size = image.file_size;
  report.pe32_plus = image.pe32_plus;
  report.overlay = image.file_size - image.RawEnd();
  report.stored_checksum = image.checksum;
  uint32_t rva = 0, size = 0;
  image.Directory(kDirectorySecurity, rva, size);
  report.signature_size = size;
  image.Directory(kDirectoryResource, rva, size);
  if (const PeSection* s = rva != 0 ? image.SectionAt(rva) : nullptr) {
    report.resource_section = s->name;
  }

  std::vector<std::u16string> named_types;
  std::map<std::string, std::vector<std::u16string>> names_by_type;
  std::vector<PayloadType> types;
  for (const ListedResource& r : listing) {
    if (r.type.named && (named_types.empty() || named_types.back() != r.type.name)) {
      named_types.push_back(r.type.name);
    }
    if (!r.type.named || !IsPayloadType(r.type.name)) {
      if (!r.type.named && r.type.id == kRtRcdata && !r.name.named &&
          r.name.id == kPreviousVersionId && !report.has_previous_version) {
        report.has_previous_version = true;
        report.previous_version_size = r.size;
        std::vector<uint8_t> bytes(std::min(r.size, kMaxShownVersion) & ~1u);
        uint8_t last[2] = {1, 1};
        if (r.mapped && r.size >= 2 && file.ReadAt(r.file_offset, bytes.data(), bytes.size(), error) &&
            file.ReadAt(r.file_offset + r.size - 2, last, 2, error)) {
          report.previous_version_valid = r.size % 2 == 0 && last[0] == 0 && last[1] == 0;
          for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
            const char16_t unit = Load16(&bytes[i]);
            if (unit == 0) break;
            report.previous_version += unit;
          }
        }
      } else {
        report.others.push_back(r);
      }
      continue;
    }
    const std::string type = Utf16ToUtf8(r.type.name);
    const std::string shown = KeyText(r.name);
    PayloadMember m{type, r.name.named ? r.name.name : std::u16string(shown.begin(), shown.end()),
                    r.language, r.size, r.data_rva, r.mapped, r.file_offset};
    report.payload.push_back(m);
    if (types.empty() || types.back().type != type) types.push_back({type, {}});
    std::vector<std::u16string>& names = names_by_type[type];
    if (r.name.named && (names.empty() || names.back() != r.name.name)) names.push_back(r.name.name);
    PayloadEntry entry;
    entry.named = r.name.named;
    entry.name = r.name.name;
    entry.size = r.size;
    uint8_t magic[4] = {};
    entry.cabinet_magic = r.mapped && r.size >= 4 && file.ReadAt(r.file_offset, magic, 4, error) &&
                          magic[0] == 'M' && magic[1] == 'S' && magic[2] == 'C' && magic[3] == 'F';
    // Further languages of a name are never reached: the stub finds one and moves on.
    if (!types.back().entries.empty() && entry.named && types.back().entries.back().named &&
        types.back().entries.back().name == entry.name) {
      continue;
    }
    types.back().entries.push_back(entry);
  }
  std::vector<PayloadType> reachable;
  for (PayloadType& t : types) {
    if (!LoaderFinds(named_types, std::u16string(t.type.begin(), t.type.end()))) continue;
    for (PayloadEntry& e : t.entries) {
      e.findable = e.named && LoaderFinds(names_by_type[t.type], e.name);
    }
    reachable.push_back(std::move(t));
  }
  report.verdict = ClassifyPayload(reachable);
  error.clear();
  return true;
}

void PrintReport(const InstallerReport& r, std::ostream& out) {
  out << "installer: " << r.path << "\n";
  out << "size: " << r.file_size << " bytes, " << (r.pe32_plus ? "PE32+" : "PE32") << ", ";
  if (r.overlay == 0) {
    out << "no overlay\n";
  } else {
    out << r.overlay << " bytes after the last section\n";
  }
  out << "checksum: " << Hex(r.stored_checksum);
  if (!r.checksum_computed) {
    out << "\n";
  } else if (r.stored_checksum == r.computed_checksum) {
    out << " (correct)\n";
  } else {
    out << " (wrong: computed " << Hex(r.computed_checksum) << ")\n";
  }
  out << "signature: " << (r.signature_size == 0 ? "none" : std::to_string(r.signature_size) + " bytes")
      << "\n";
  out << "resource section: " << (r.resource_section.empty() ? "none" : r.resource_section) << "\n";
  out << "payload:" << (r.payload.empty() ? " none" : "") << "\n";
  for (const PayloadMember& m : r.payload) {
    const Member* member = MemberOfName(m.name);
    out << "  " << m.type << "  " << Utf16ToUtf8(m.name) << "  " << m.size << " bytes  language "
        << m.language << "  ";
    if (m.mapped) {
      out << "file offset " << Hex(m.file_offset)
          << (m.file_offset % kPageSize == 0 && m.rva % kPageSize == 0 ? " (4 KiB-aligned)"
                                                                       : " (not page-aligned)");
    } else {
      out << "outside the file's section data";
    }
    out << "  " << (member != nullptr ? StorageText(*member, m.type) : "not a payload name") << "\n";
  }
  out << "previous version: ";
  if (!r.has_previous_version) {
    out << "none\n";
  } else if (r.previous_version_valid) {
    out << "\"" << Utf16ToUtf8(r.previous_version) << "\"\n";
  } else {
    out << "ignored by the stub (" << r.previous_version_size
        << " bytes; it must be a terminated UTF-16 string)\n";
  }
  out << "other resources:" << (r.others.empty() ? " none" : "") << "\n";
  for (const ListedResource& o : r.others) {
    out << "  type " << KeyText(o.type) << "  name " << KeyText(o.name) << "  language "
        << o.language << "  " << o.size << " bytes\n";
  }
  if (r.verdict.accepted()) {
    out << "verdict: accepted: archive " << Utf16ToUtf8(r.verdict.archive_name) << " ("
        << r.verdict.archive_type << "), setup program " << Utf16ToUtf8(r.verdict.setup_name)
        << " (" << r.verdict.setup_type << ")\n";
  } else {
    out << "verdict: rejected: the stub would exit with " << r.verdict.code << " (error "
        << r.verdict.extra << "): " << r.verdict.reason << "\n";
  }
}

int RunCheck(const std::string& path, std::ostream& out, std::ostream& err) {
  InstallerReport report;
  std::string error;
  if (!InspectInstaller(path, report, error)) {
    err << "lumora-pack: " << error << "\n";
    return 2;
  }
  PrintReport(report, out);
  return report.verdict.accepted() ? 0 : 1;
}
