#include "reports/text_report.h"

#include "cabinet/cabinet_format.h"
#include "cabinet/cabinet_header.h"
#include "platform/escaped_text.h"
#include "reports/archive_report.h"
#include "pe/pe_format.h"
#include "platform/utf_text.h"
#include "reports/member_role.h"
#include "reports/update_report.h"

namespace {

// A section's name as a terminal shows it: its eight bytes come from the file.
std::string SectionName(const PeSection& section) { return Escaped(std::string(section.name)); }

// "115 (EXIT_SETUP_UNPACK_FAILED)".
std::string ExitText(uint32_t code) {
  const char* name = ExitCodeName(code);
  return std::to_string(code) + (name != nullptr ? std::string(" (") + name + ")" : "");
}

std::string WhereText(const Resource& m) {
  if (m.loaded == MappedBytes::kUnmapped) return "beyond the image as the loader maps it";
  std::string where;
  if (m.mapped) {
    where = "file offset " + HexText(m.file_offset) +
            (m.file_offset % kPageSize == 0 && m.data_rva % kPageSize == 0 ? " (4 KiB-aligned)"
                                                                           : " (not page-aligned)");
  } else {
    where = "outside the file's section data";
  }
  if (m.loaded == MappedBytes::kNotFromFile) where += ", beyond its section's virtual size";
  return where;
}

// The signature line: what the signature is, and whether the file is still what was signed.
void PrintSignature(const InstallerReport& r, std::ostream& out) {
  const SignatureCheck& c = r.signature;
  out << "signature: ";
  if (r.signature_size == 0 && r.signature_offset == 0) {
    out << "none\n";
    return;
  }
  if (c.outcome == SignatureCheck::Outcome::kNone) {
    // Not checked: a table outside the file, or pack's read-back of an unsigned file.
    out << (!r.signature_malformed ? std::to_string(r.signature_size) + " bytes\n"
                                   : "malformed (" + std::to_string(r.signature_size) +
                                         " bytes at offset " + HexText(r.signature_offset) + ")\n");
    return;
  }
  out << r.signature_size << " bytes";
  if (!c.algorithm.empty()) out << ", " << Escaped(c.algorithm);
  if (!c.signer.empty()) out << ", signed by " << Quoted(c.signer);
  switch (c.outcome) {
    case SignatureCheck::Outcome::kVerified:
      out << ": verified, the file is what was signed (whether the signer is trusted is not "
             "judged here)\n";
      break;
    case SignatureCheck::Outcome::kMismatch:
      out << ": MISMATCH, " << Escaped(c.problem) << "\n";
      break;
    default:
      out << ": not verified, " << Escaped(c.problem) << "\n";
      break;
  }
}

}  // namespace

void PrintReport(const InstallerReport& r, std::ostream& out) {
  const PayloadLayout& layout = r.layout;
  out << "installer: " << Escaped(r.path) << "\n";
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
  PrintSignature(r, out);
  out << "sections: file alignment " << r.file_alignment << ", headers " << r.size_of_headers
      << " bytes, " << (r.PageAligned() ? "every section page-aligned" : "not page-aligned")
      << "\n";
  for (const PeSection& s : r.sections) {
    out << "  " << SectionName(s) << "  address " << HexText(s.virtual_address) << "  ";
    if (s.raw_size == 0) {
      out << "no file data\n";
      continue;
    }
    out << "file offset " << HexText(s.raw_offset) << "  " << s.raw_size << " bytes"
        << (StartsOnPage(s) ? " (4 KiB-aligned)" : " (not page-aligned)") << "\n";
  }
  out << "resource section: "
      << (r.resource_section.empty() ? "none" : Escaped(r.resource_section)) << "\n";
  out << "payload:" << (layout.payload.empty() ? " none" : "") << "\n";
  for (size_t i = 0; i < layout.payload.size(); ++i) {
    const Resource& m = layout.payload[i];
    PayloadMember member = PayloadMember::kArchive;
    PayloadType type = PayloadType::kPacked;
    out << "  " << ShownKey(m.type) << "  " << ShownKey(m.name) << "  " << m.size
        << " bytes  language " << m.language << "  " << WhereText(m) << "  "
        << (RoleOf(m, member, type) ? StorageText(member, type) : "not a payload name") << "\n";
    const MemberCabinet& cabinet = layout.cabinets[i];
    if (cabinet.cabinet) {
      out << "    cabinet: "
          << (cabinet.readable ? CompressionTypeText(cabinet.compression) : "unreadable header")
          << "\n";
    }
  }
  const PayloadVerdict& v = layout.verdict;
  if (v.cabinet_read) {
    const CabinetFacts& c = v.cabinet;
    out << "setup cabinet: ";
    if (!c.headers_read) {
      out << "unreadable\n";
    } else {
      out << c.folders << (c.folders == 1 ? " folder, " : " folders, ") << c.files
          << (c.files == 1 ? " file" : " files") << "; first file " << Escaped(c.first_file_name)
          << ", " << c.first_file_size << " bytes, compressed with "
          << CompressionTypeText(c.compression) << "; "
          << (c.expanded ? "expands whole" : "does not expand") << "\n";
    }
  }
  if (v.archive_read) PrintArchiveFacts(v.archive, out);
  if (v.program_read) {
    out << "setup program: " << v.program.Describe()
        << (v.shipped_setup ? ", the one we ship (lumora-setup)" : "") << "\n";
  }
  out << "previous version: ";
  if (!layout.has_previous_version) {
    out << "none\n";
  } else if (layout.previous_version_valid) {
    out << Quoted(layout.previous_version) << "\n";
  } else {
    out << "ignored by the stub (" << layout.previous_version_size
        << " bytes; it must be a terminated UTF-16 string)\n";
  }
  out << "other resources:" << (layout.others.empty() ? " none" : "") << "\n";
  for (const Resource& o : layout.others) {
    out << "  type " << ShownKey(o.type) << "  name " << ShownKey(o.name) << "  language "
        << o.language << "  " << o.size << " bytes\n";
  }
  out << "icon: ";
  if (!r.has_icon) {
    out << "none\n";
  } else if (!r.icon_readable) {
    out << "group " << ShownKey(r.icon_group) << ", unreadable\n";
  } else {
    out << "group " << ShownKey(r.icon_group) << ", " << r.icons.size()
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
      out << "  " << ShownName(key) << ": " << QuotedName(text) << "\n";
    }
  }
  if (r.update.is_update) out << UpdateText(r.update);
  for (const std::string& note : v.notes) out << "note: " << note << "\n";
  if (!r.image_fault.empty()) {
    out << "verdict: rejected: " << r.image_fault << "\n";
  } else if (v.accepted()) {
    out << "verdict: accepted: archive " << ShownName(v.archive_name) << " ("
        << PayloadTypeText(v.archive_type) << "), setup program " << ShownName(v.setup_name)
        << " (" << PayloadTypeText(v.setup_type) << ")\n";
  } else if (v.outcome == PayloadVerdict::Outcome::kDepends) {
    out << "verdict: rejected: what the stub does depends on " << v.depends_on << ": " << v.reason
        << "\n";
  } else if (v.setup_refuses) {
    const char* name = SetupExitCodeName(v.code);
    out << "verdict: rejected: the setup program would exit with " << v.code
        << (name != nullptr ? std::string(" (") + name + ")" : "")
        << ", which the stub passes on: " << v.reason << "\n";
  } else {
    out << "verdict: rejected: the stub would exit with " << ExitText(v.code) << " (error "
        << v.extra << "): " << v.reason << "\n";
  }
}
