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
// A certificate table holds at least one entry's 8-byte header.
constexpr uint32_t kSmallestCertificateTable = 8;

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
bool LoaderFinds(const std::vector<ResourceKey>& stored, const std::u16string& wanted) {
  const std::u16string key = AsciiUpper(wanted);
  size_t low = 0, high = stored.size();
  while (low < high) {
    const size_t middle = (low + high) / 2;
    const std::u16string& name = stored[middle].name();
    if (name == key) return true;
    if (name < key) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return false;
}

// The stub meets at most this many names of one type: it records at most the archive and the
// setup program, and the third named resource of a type is always a second member or an
// unknown name, where it stops. Only these few are looked up and read.
constexpr size_t kEntriesTheStubReaches = 3;

// The resources listed under one payload type's directory entry.
struct TypeGroup {
  uint32_t type_entry = 0;
  std::string type;
  std::vector<ResourceKey> names;           // the string names, in stored order
  std::vector<const ListedResource*> firsts;  // the first language of each name, in order
};

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
  // Its "address" is a file offset. A signature follows the sections, within the file.
  report.signature_offset = rva;
  report.signature_size = size;
  if ((rva != 0 || size != 0) &&
      (size < kSmallestCertificateTable || rva < image.RawEnd() ||
       uint64_t{rva} + size > image.file_size)) {
    report.image_fault = "its certificate table (" + std::to_string(size) + " bytes at offset " +
                         Hex(rva) + ") does not lie within the file after the sections; " +
                         "no signing tool or signature check can read it";
  }
  image.Directory(kDirectoryResource, rva, size);
  if (const PeSection* s = rva != 0 ? image.SectionAt(rva) : nullptr) {
    report.resource_section = s->name;
  }

  std::vector<ResourceKey> named_types;
  std::vector<TypeGroup> groups;
  const ListedResource* version = nullptr;
  for (const ListedResource& r : listing) {
    const bool new_type = groups.empty() || groups.back().type_entry != r.type_entry;
    if (r.type.named && (named_types.empty() || !(named_types.back() == r.type))) {
      named_types.push_back(r.type);
    }
    if (!r.type.named || !IsPayloadType(r.type.name())) {
      if (!r.type.named && r.type.id == kRtRcdata && !r.name.named &&
          r.name.id == kPreviousVersionId && version == nullptr) {
        version = &r;
      } else {
        report.others.push_back(r);
      }
      continue;
    }
    const std::string type = Utf16ToUtf8(r.type.name());
    report.payload.push_back(
        {type, r.name, r.language, r.size, r.data_rva, r.mapped, r.file_offset});
    if (new_type) groups.push_back({r.type_entry, type, {}, {}});
    TypeGroup& group = groups.back();
    // Further languages of a name are never reached: the stub finds one and moves on.
    if (!group.firsts.empty() && group.firsts.back()->name_entry == r.name_entry) continue;
    if (r.name.named) group.names.push_back(r.name);
    group.firsts.push_back(&r);
  }

  std::vector<PayloadType> reachable;
  for (const TypeGroup& group : groups) {
    if (!LoaderFinds(named_types, std::u16string(group.type.begin(), group.type.end()))) continue;
    PayloadType t{group.type, {}};
    for (size_t i = 0; i < group.firsts.size() && i < kEntriesTheStubReaches; ++i) {
      const ListedResource& r = *group.firsts[i];
      PayloadEntry e;
      e.named = r.name.named;
      // The enumeration hands the stub the name as a terminated string, cut at a zero unit.
      const std::u16string& stored = r.name.name();
      e.name = stored.substr(0, stored.find(u'\0'));
      // A name beginning with '#' is read by FindResourceW as a number, not looked up by name.
      e.findable = e.named && (e.name.empty() || e.name[0] != u'#') && LoaderFinds(group.names, e.name);
      e.size = r.size;
      e.mapped = r.mapped;
      uint8_t magic[4] = {};
      e.cabinet_magic = r.mapped && r.size >= 4 && file.ReadAt(r.file_offset, magic, 4, error) &&
                        magic[0] == 'M' && magic[1] == 'S' && magic[2] == 'C' && magic[3] == 'F';
      t.entries.push_back(std::move(e));
    }
    reachable.push_back(std::move(t));
  }

  if (version != nullptr) {
    report.has_previous_version = true;
    report.previous_version_size = version->size;
    std::vector<uint8_t> bytes(std::min(version->size, kMaxShownVersion) & ~1u);
    uint8_t last[2] = {1, 1};
    if (version->mapped && version->size >= 2 &&
        file.ReadAt(version->file_offset, bytes.data(), bytes.size(), error) &&
        file.ReadAt(version->file_offset + version->size - 2, last, 2, error)) {
      report.previous_version_valid = version->size % 2 == 0 && last[0] == 0 && last[1] == 0;
      for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const char16_t unit = Load16(&bytes[i]);
        if (unit == 0) break;
        report.previous_version += unit;
      }
    }
  }
  report.verdict =
      ClassifyPayload(reachable, report.previous_version_valid ? &report.previous_version : nullptr);

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
  out << "signature: ";
  if (!r.image_fault.empty()) {
    out << "malformed (" << r.signature_size << " bytes at offset " << Hex(r.signature_offset)
        << ")\n";
  } else {
    out << (r.signature_size == 0 ? "none" : std::to_string(r.signature_size) + " bytes") << "\n";
  }
  out << "resource section: " << (r.resource_section.empty() ? "none" : r.resource_section) << "\n";
  out << "payload:" << (r.payload.empty() ? " none" : "") << "\n";
  for (const PayloadMember& m : r.payload) {
    const Member* member = MemberOfName(m.name.name());
    out << "  " << m.type << "  " << KeyText(m.name) << "  " << m.size << " bytes  language "
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
    out << "\"" << NameText(r.previous_version) << "\"\n";
  } else {
    out << "ignored by the stub (" << r.previous_version_size
        << " bytes; it must be a terminated UTF-16 string)\n";
  }
  out << "other resources:" << (r.others.empty() ? " none" : "") << "\n";
  for (const ListedResource& o : r.others) {
    out << "  type " << KeyText(o.type) << "  name " << KeyText(o.name) << "  language "
        << o.language << "  " << o.size << " bytes\n";
  }
  if (!r.image_fault.empty()) {
    out << "verdict: rejected: " << r.image_fault << "\n";
  } else if (r.verdict.accepted()) {
    out << "verdict: accepted: archive " << NameText(r.verdict.archive_name) << " ("
        << r.verdict.archive_type << "), setup program " << NameText(r.verdict.setup_name)
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
  return report.accepted() ? 0 : 1;
}
