#include "check_command.h"

#include <cstdio>

#include "cabinet_header.h"
#include "pe_format.h"
#include "utf_text.h"

namespace {

// A section's name as a terminal shows it: its eight bytes come from the file, and a control
// character among them is shown as '?' rather than sent to the terminal.
std::string SectionName(const PeSection& section) {
  std::string name = section.name;
  for (char& c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return name;
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
    out << (r.image_fault.empty() ? std::to_string(r.signature_size) + " bytes\n"
                                   : "malformed (" + std::to_string(r.signature_size) +
                                         " bytes at offset " + HexText(r.signature_offset) + ")\n");
    return;
  }
  out << r.signature_size << " bytes";
  if (!c.algorithm.empty()) out << ", " << c.algorithm;
  if (!c.signer.empty()) out << ", signed by \"" << c.signer << "\"";
  switch (c.outcome) {
    case SignatureCheck::Outcome::kVerified:
      out << ": verified, the file is what was signed (whether the signer is trusted is not "
             "judged here)\n";
      break;
    case SignatureCheck::Outcome::kMismatch:
      out << ": MISMATCH, " << c.problem << "\n";
      break;
    default:
      out << ": not verified, " << c.problem << "\n";
      break;
  }
}

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
  out << "resource section: " << (r.resource_section.empty() ? "none" : r.resource_section) << "\n";
  out << "payload:" << (layout.payload.empty() ? " none" : "") << "\n";
  for (size_t i = 0; i < layout.payload.size(); ++i) {
    const Resource& m = layout.payload[i];
    const std::string type = KeyText(m.type);
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
    const CabinetFacts& cabinet = layout.cabinets[i];
    if (cabinet.cabinet) {
      out << "    cabinet: "
          << (cabinet.readable ? CompressionTypeText(cabinet.compression) : "unreadable header")
          << "\n";
    }
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

namespace {

// A JSON string: the text as UTF-8 (bytes that are no UTF-8, which only a Linux path can hold,
// become U+FFFD), with quotes, backslashes and control characters escaped.
std::string Json(const std::string& text) {
  std::u16string ignored;
  std::string utf8 = text;
  if (!Utf8ToUtf16(text, ignored)) {
    utf8.clear();
    for (char c : text) utf8 += static_cast<unsigned char>(c) < 0x80 ? std::string(1, c) : "\xEF\xBF\xBD";
  }
  std::string out = "\"";
  for (char c : utf8) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\u%04X", static_cast<unsigned>(c));
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string Json(const std::u16string& text) { return Json(NameText(text)); }
std::string Json(const ResourceKey& key) { return Json(KeyText(key)); }
const char* Json(bool value) { return value ? "true" : "false"; }

// null for a member that is no cabinet; else its first folder's compression, by name ("none",
// "mszip", "quantum", "lzx" with its window's exponent, or "unknown" with the type), or null
// when the header cannot be read.
std::string CabinetJson(const CabinetFacts& facts) {
  if (!facts.cabinet) return "null";
  if (!facts.readable) return "{\"readable\": false}";
  static const char* const kMethods[] = {"none", "mszip", "quantum", "lzx"};
  const uint16_t method = facts.compression & 0x000F;
  std::string json = "{\"readable\": true, \"compression\": \"";
  json += method < 4 ? kMethods[method] : "unknown";
  json += "\", \"type\": " + std::to_string(facts.compression);
  if (method == 3) json += ", \"window_bits\": " + std::to_string((facts.compression >> 8) & 0x1F);
  return json + "}";
}

// A digest, or null where there is none.
std::string JsonDigest(const std::string& digest) {
  return digest.empty() ? "null" : "\"" + digest + "\"";
}

// The signature object: where the table is, and what checking it against the file found.
void PrintJsonSignature(const InstallerReport& r, std::ostream& out) {
  const SignatureCheck& c = r.signature;
  const char* outcome = "none";
  switch (c.outcome) {
    case SignatureCheck::Outcome::kNone:
      outcome = r.signature_size != 0 || r.signature_offset != 0 ? "unchecked" : "none";
      break;
    case SignatureCheck::Outcome::kUnreadable:
      outcome = "unreadable";
      break;
    case SignatureCheck::Outcome::kUnverified:
      outcome = "unverified";
      break;
    case SignatureCheck::Outcome::kMismatch:
      outcome = "mismatch";
      break;
    case SignatureCheck::Outcome::kVerified:
      outcome = "verified";
      break;
  }
  const bool read = c.outcome != SignatureCheck::Outcome::kNone &&
                    c.outcome != SignatureCheck::Outcome::kUnreadable;
  const bool present = r.signature_size != 0 || r.signature_offset != 0;
  // A table that does not lie within the file is not checked, and is the image's fault.
  const bool well_formed =
      !present || c.outcome != SignatureCheck::Outcome::kNone || r.image_fault.empty();
  out << "  \"signature\": {\"present\": " << Json(present) << ", \"well_formed\": "
      << Json(well_formed) << ", \"offset\": " << r.signature_offset << ", \"size\": "
      << r.signature_size      << ", \"outcome\": \"" << outcome << "\", \"digest_algorithm\": "
      << (c.algorithm.empty() ? "null" : Json(c.algorithm)) << ", \"digest_matches\": "
      << (read ? Json(c.digest_matches) : "null") << ", \"signer_signature_valid\": "
      << (read ? Json(c.signer_signature_valid) : "null") << ", \"signer\": "
      << (c.signer.empty() ? "null" : Json(c.signer)) << ", \"chain_judged\": false, \"problem\": "
      << (c.problem.empty() ? "null" : Json(c.problem)) << "},\n";
}

}  // namespace

void PrintJsonReport(const InstallerReport& r, const ReportDigests& digests, std::ostream& out) {
  const PayloadLayout& layout = r.layout;
  out << "{\n  \"schema\": " << kReportSchema << ",\n  \"installer\": " << Json(r.path)
      << ",\n  \"readable\": true,\n";
  out << "  \"size\": " << r.file_size << ",\n  \"sha256\": " << JsonDigest(digests.installer)
      << ",\n  \"format\": \"" << (r.pe32_plus ? "PE32+" : "PE32")
      << "\",\n  \"overlay\": " << r.overlay << ",\n";
  out << "  \"file_alignment\": " << r.file_alignment << ",\n  \"size_of_headers\": "
      << r.size_of_headers << ",\n  \"page_aligned\": " << Json(r.PageAligned()) << ",\n";
  out << "  \"sections\": [";
  for (size_t i = 0; i < r.sections.size(); ++i) {
    const PeSection& s = r.sections[i];
    out << (i == 0 ? "\n" : ",\n") << "    {\"name\": " << Json(std::string(s.name))
        << ", \"address\": " << s.virtual_address << ", \"virtual_size\": " << s.virtual_size
        << ", \"file_offset\": " << s.raw_offset << ", \"file_size\": " << s.raw_size
        << ", \"page_aligned\": " << Json(StartsOnPage(s)) << "}";
  }
  out << (r.sections.empty() ? "" : "\n  ") << "],\n";
  out << "  \"checksum\": {\"stored\": " << r.stored_checksum;
  if (r.checksum_computed) {
    out << ", \"computed\": " << r.computed_checksum << ", \"correct\": "
        << Json(r.stored_checksum == r.computed_checksum);
  }
  out << "},\n";
  PrintJsonSignature(r, out);
  out << "  \"resource_section\": " << (r.resource_section.empty() ? "null" : Json(r.resource_section))
      << ",\n";
  out << "  \"members\": [";
  for (size_t i = 0; i < layout.payload.size(); ++i) {
    const Resource& m = layout.payload[i];
    const Member* member = MemberOfName(m.name.name());
    const std::string type = KeyText(m.type);
    out << (i == 0 ? "\n" : ",\n") << "    {\"type\": " << Json(type) << ", \"name\": "
        << Json(m.name) << ", \"role\": "
        << (member == nullptr ? "null" : *member == Member::kArchive ? "\"archive\"" : "\"setup\"")
        << ", \"storage\": " << (member == nullptr ? "null" : Json(StorageText(*member, type)))
        << ", \"cabinet\": " << CabinetJson(layout.cabinets[i])
        << ", \"language\": " << m.language << ", \"size\": " << m.size << ", \"address\": "
        << m.data_rva << ", \"in_file\": " << Json(m.mapped) << ", \"sha256\": "
        << JsonDigest(i < digests.members.size() ? digests.members[i] : "");
    if (m.mapped) {
      out << ", \"file_offset\": " << m.file_offset << ", \"page_aligned\": "
          << Json(m.file_offset % kPageSize == 0 && m.data_rva % kPageSize == 0);
    }
    out << "}";
  }
  out << (layout.payload.empty() ? "" : "\n  ") << "],\n";
  out << "  \"previous_version\": ";
  if (!layout.has_previous_version) {
    out << "null";
  } else {
    out << "{\"valid\": " << Json(layout.previous_version_valid) << ", \"size\": "
        << layout.previous_version_size;
    if (layout.previous_version_valid) out << ", \"text\": " << Json(layout.previous_version);
    out << "}";
  }
  out << ",\n  \"icon\": ";
  if (!r.has_icon) {
    out << "null";
  } else {
    out << "{\"group\": " << Json(r.icon_group) << ", \"readable\": " << Json(r.icon_readable)
        << ", \"images\": [";
    for (size_t i = 0; i < r.icons.size(); ++i) {
      const IconGroupEntry& e = r.icons[i];
      out << (i == 0 ? "" : ", ") << "{\"width\": " << e.width << ", \"height\": " << e.height
          << ", \"bits\": " << e.bit_count << ", \"png\": " << Json(e.png) << ", \"size\": "
          << e.size << "}";
    }
    out << "]}";
  }
  out << ",\n  \"version\": ";
  if (!r.has_version) {
    out << "null";
  } else {
    out << "{\"readable\": " << Json(r.version_readable);
    if (r.version.has_fixed) {
      out << ", \"file_version\": " << Json(VersionNumberText(r.version.file_version))
          << ", \"product_version\": " << Json(VersionNumberText(r.version.product_version));
    }
    out << ", \"texts\": {";
    for (size_t i = 0; i < r.version.texts.size(); ++i) {
      out << (i == 0 ? "" : ", ") << Json(r.version.texts[i].first) << ": "
          << Json(r.version.texts[i].second);
    }
    out << "}}";
  }
  out << ",\n  \"other_resources\": [";
  for (size_t i = 0; i < layout.others.size(); ++i) {
    const Resource& o = layout.others[i];
    out << (i == 0 ? "\n" : ",\n") << "    {\"type\": " << Json(o.type) << ", \"name\": "
        << Json(o.name) << ", \"language\": " << o.language << ", \"size\": " << o.size << "}";
  }
  out << (layout.others.empty() ? "" : "\n  ") << "],\n";
  // The stub's own exit code where it would end the run itself; null where it would go on and
  // end with the setup program's (or where the image is unfit whatever the stub does).
  const PayloadVerdict& v = layout.verdict;
  const bool stub_ends = r.image_fault.empty() && !v.accepted();
  out << "  \"verdict\": {\"accepted\": " << Json(r.accepted()) << ", \"stub_exit_code\": "
      << (stub_ends ? std::to_string(v.code) : "null") << ", \"stub_error\": "
      << (stub_ends ? std::to_string(v.extra) : "null") << ", \"reason\": "
      << Json(!r.image_fault.empty() ? r.image_fault : v.reason);
  if (r.accepted()) {
    out << ", \"archive\": {\"name\": " << Json(v.archive_name) << ", \"type\": "
        << Json(v.archive_type) << "}, \"setup\": {\"name\": " << Json(v.setup_name)
        << ", \"type\": " << Json(v.setup_type) << "}";
  }
  out << "},\n  \"status\": " << (r.accepted() ? 0 : 1) << "\n}\n";
}

namespace {

// --require-signature: what is not a verified signature is a rejection too. A signature that
// does not match is one already, required or not.
void RequireSignature(InstallerReport& report) {
  if (!report.image_fault.empty()) return;
  switch (report.signature.outcome) {
    case SignatureCheck::Outcome::kVerified:
      return;
    case SignatureCheck::Outcome::kNone:
      report.image_fault = "it is not signed, and --require-signature asks for a signature; sign "
                           "it (osslsigncode or signtool)";
      return;
    default:
      report.image_fault = "its signature is not verified (" + report.signature.problem +
                           "), and --require-signature asks for a verified one";
      return;
  }
}

}  // namespace

int RunCheck(const CheckOptions& options, std::ostream& out, std::ostream& err) {
  InstallerReport report;
  std::string error;
  if (!InspectInstaller(options.path, report, error)) {
    if (options.quiet) return 2;
    if (options.json) {
      out << "{\n  \"schema\": " << kReportSchema << ",\n  \"installer\": " << Json(options.path)
          << ",\n  \"readable\": false,\n  \"error\": " << Json(error) << ",\n  \"status\": 2\n}\n";
    }
    err << "lumora-pack: " << error << "\n";
    return 2;
  }
  if (options.require_signature) RequireSignature(report);
  if (options.json) {
    ReportDigests digests;
    if (!ComputeReportDigests(report, digests, error)) {
      err << "lumora-pack: " << error << "\n";
      return 2;
    }
    PrintJsonReport(report, digests, out);
  } else if (!options.quiet) {
    PrintReport(report, out);
  }
  return report.accepted() ? 0 : 1;
}
