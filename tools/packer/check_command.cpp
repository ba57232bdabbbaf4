#include "check_command.h"

#include "pe_format.h"

namespace {

std::string TypeText(const Resource& r) { return KeyText(r.type); }

}  // namespace

void PrintReport(const InstallerReport& r, std::ostream& out) {
  const PayloadLayout& layout = r.layout;
  out << "installer: " << r.path << "\n";
  out << "size: " << r.file_size << " bytes, " << (r.pe32_plus ? "PE32+" : "PE32") << ", ";
  if (r.overlay == 0) {
    out << "no overlay\n";
  } else {
    out << r.overlay << " bytes after the last section\n";
  }
  out << "checksum: " << HexText(r.stored_checksum);
  if (!r.checksum_computed) {
    out << "\n";
  } else if (r.stored_checksum == r.computed_checksum) {
    out << " (correct)\n";
  } else {
    out << " (wrong: computed " << HexText(r.computed_checksum) << ")\n";
  }
  out << "signature: ";
  if (!r.image_fault.empty()) {
    out << "malformed (" << r.signature_size << " bytes at offset " << HexText(r.signature_offset)
        << ")\n";
  } else {
    out << (r.signature_size == 0 ? "none" : std::to_string(r.signature_size) + " bytes") << "\n";
  }
  out << "sections: file alignment " << r.file_alignment << ", headers " << r.size_of_headers
      << " bytes, " << (r.PageAligned() ? "every section page-aligned" : "not page-aligned")
      << "\n";
  for (const PeSection& s : r.sections) {
    out << "  " << s.name << "  address " << HexText(s.virtual_address) << "  ";
    if (s.raw_size == 0) {
      out << "no file data\n";
      continue;
    }
    out << "file offset " << HexText(s.raw_offset) << "  " << s.raw_size << " bytes"
        << (StartsOnPage(s) ? " (4 KiB-aligned)" : " (not page-aligned)") << "\n";
  }
  out << "resource section: " << (r.resource_section.empty() ? "none" : r.resource_section) << "\n";
  out << "payload:" << (layout.payload.empty() ? " none" : "") << "\n";
  for (const Resource& m : layout.payload) {
    const std::string type = TypeText(m);
    const Member* member = MemberOfName(m.name.name());
    out << "  " << type << "  " << KeyText(m.name) << "  " << m.size << " bytes  language "
        << m.language << "  ";
    if (m.mapped) {
      out << "file offset " << HexText(m.file_offset)
          << (m.file_offset % kPageSize == 0 && m.data_rva % kPageSize == 0 ? " (4 KiB-aligned)"
                                                                            : " (not page-aligned)");
    } else {
      out << "outside the file's section data";
    }
    out << "  " << (member != nullptr ? StorageText(*member, type) : "not a payload name") << "\n";
  }
  out << "previous version: ";
  if (!layout.has_previous_version) {
    out << "none\n";
  } else if (layout.previous_version_valid) {
    out << "\"" << NameText(layout.previous_version) << "\"\n";
  } else {
    out << "ignored by the stub (" << layout.previous_version_size
        << " bytes; it must be a terminated UTF-16 string)\n";
  }
  out << "other resources:" << (layout.others.empty() ? " none" : "") << "\n";
  for (const Resource& o : layout.others) {
    out << "  type " << KeyText(o.type) << "  name " << KeyText(o.name) << "  language "
        << o.language << "  " << o.size << " bytes\n";
  }
  out << "icon: ";
  if (!r.has_icon) {
    out << "none\n";
  } else if (!r.icon_readable) {
    out << "group " << KeyText(r.icon_group) << ", unreadable\n";
  } else {
    out << "group " << KeyText(r.icon_group) << ", " << r.icons.size()
        << (r.icons.size() == 1 ? " image" : " images") << (r.icons.empty() ? "" : ":");
    for (size_t i = 0; i < r.icons.size(); ++i) {
      const IconGroupEntry& e = r.icons[i];
      out << (i == 0 ? " " : ", ") << e.width << "x" << e.height << " " << e.bit_count << "-bit"
          << (e.png ? " PNG" : "");
    }
    out << "\n";
  }
  out << "version: ";
  if (!r.has_version) {
    out << "none\n";
  } else if (!r.version_readable) {
    out << "unreadable\n";
  } else {
    if (r.version.has_fixed) {
      out << "file " << VersionNumberText(r.version.file_version) << ", product "
          << VersionNumberText(r.version.product_version) << "\n";
    } else {
      out << "no numeric versions\n";
    }
    for (const auto& [key, text] : r.version.texts) {
      out << "  " << NameText(key) << ": \"" << NameText(text) << "\"\n";
    }
  }
  const PayloadVerdict& v = layout.verdict;
  if (!r.image_fault.empty()) {
    out << "verdict: rejected: " << r.image_fault << "\n";
  } else if (v.accepted()) {
    out << "verdict: accepted: archive " << NameText(v.archive_name) << " (" << v.archive_type
        << "), setup program " << NameText(v.setup_name) << " (" << v.setup_type << ")\n";
  } else {
    out << "verdict: rejected: the stub would exit with " << v.code << " (error " << v.extra
        << "): " << v.reason << "\n";
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
