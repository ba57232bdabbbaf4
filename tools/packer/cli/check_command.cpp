#include "cli/check_command.h"

#include <cstdio>

#include "cabinet/cabinet_format.h"
#include "cabinet/cabinet_header.h"
#include "platform/escaped_text.h"
#include "pe/pe_format.h"
#include "platform/utf_text.h"

namespace {

// A section's name as a terminal shows it: its eight bytes come from the file.
std::string SectionName(const PeSection& section) { return Escaped(std::string(section.name)); }

// The role and storage of a payload resource, by its name and type as the stub reads them.
bool RoleOf(const Resource& m, PayloadMember& member, PayloadType& type) {
  return m.type.named && ParsePayloadType(m.type.name(), type) &&
         MemberOfName(TerminatedName(m.name), member);
}

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
  if (v.program_read) out << "setup program: " << v.program.Describe() << "\n";
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
  } else {
    out << "verdict: rejected: the stub would exit with " << ExitText(v.code) << " (error "
        << v.extra << "): " << v.reason << "\n";
  }
}

namespace {

// JSON strings of text from the file or a path, escaped as JSON does (escaped_text.h).
std::string Json(const std::string& text) { return JsonString(text); }
std::string Json(const std::u16string& text) { return JsonString(text); }
std::string Json(const ResourceKey& key) {
  return key.named ? JsonString(key.name()) : JsonString(KeyText(key));
}
const char* Json(bool value) { return value ? "true" : "false"; }

const char* LoadedText(MappedBytes loaded) {
  switch (loaded) {
    case MappedBytes::kFromFile: return "\"file\"";
    case MappedBytes::kNotFromFile: return "\"partly zeros\"";
    case MappedBytes::kUnmapped: return "\"beyond the image\"";
  }
  return "null";
}

std::string JsonCabinet(const CabinetFacts& c) {
  std::string out = "{\"readable\": " + std::string(Json(c.headers_read));
  if (c.headers_read) {
    out += ", \"folders\": " + std::to_string(c.folders) + ", \"files\": " +
           std::to_string(c.files) + ", \"first_file\": " + Json(c.first_file_name) +
           ", \"first_file_size\": " + std::to_string(c.first_file_size) +
           ", \"compression\": " + Json(CompressionTypeText(c.compression));
  }
  out += ", \"expands\": " + std::string(Json(c.expanded));
  if (c.expanded) out += ", \"expanded_size\": " + std::to_string(c.expanded_size);
  if (!c.failure.empty()) out += ", \"failure\": " + Json(c.failure);
  return out + "}";
}

std::string JsonProgram(const ProgramFacts& p) {
  std::string out = "{\"is\": " + Json(p.Describe()) + ", \"windows_x64_program\": " +
                    Json(p.IsWindowsX64Program());
  if (p.kind == FileKind::kWindowsProgram) {
    out += ", \"imports\": [";
    for (size_t i = 0; i < p.imports.size(); ++i) out += (i == 0 ? "" : ", ") + Json(p.imports[i]);
    out += "], \"imports_outside_windows\": [";
    const std::vector<std::string> outside = ImportsOutsideWindows(p);
    for (size_t i = 0; i < outside.size(); ++i) out += (i == 0 ? "" : ", ") + Json(outside[i]);
    out += "]";
  }
  return out + "}";
}

// null for a member that is no cabinet; else its first folder's compression, by name ("none",
// "mszip", "quantum", "lzx" with its window's exponent, or "unknown" with the type), or null
// when the header cannot be read.
std::string CabinetJson(const MemberCabinet& facts) {
  if (!facts.cabinet) return "null";
  if (!facts.readable) return "{\"readable\": false}";
  static const char* const kMethods[] = {"none", "mszip", "quantum", "lzx"};
  const uint16_t method = CompressionMethod(facts.compression);
  std::string json = "{\"readable\": true, \"compression\": \"";
  json += method <= kCabinetCompressionLzx ? kMethods[method] : "unknown";
  json += "\", \"type\": " + std::to_string(facts.compression);
  if (method == kCabinetCompressionLzx) {
    json += ", \"window_bits\": " + std::to_string(LzxWindowBits(facts.compression));
  }
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
  const bool well_formed = !present || !r.signature_malformed;
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
  const PayloadVerdict& v = layout.verdict;
  out << "  \"members\": [";
  for (size_t i = 0; i < layout.payload.size(); ++i) {
    const Resource& m = layout.payload[i];
    PayloadMember member = PayloadMember::kArchive;
    PayloadType type = PayloadType::kPacked;
    const bool role = RoleOf(m, member, type);
    out << (i == 0 ? "\n" : ",\n") << "    {\"type\": " << Json(m.type) << ", \"name\": "
        << Json(m.name) << ", \"role\": "
        << (!role ? "null" : member == PayloadMember::kArchive ? "\"archive\"" : "\"setup\"")
        << ", \"storage\": " << (!role ? "null" : Json(StorageText(member, type)))
        << ", \"cabinet\": " << CabinetJson(layout.cabinets[i])
        << ", \"language\": " << m.language << ", \"size\": " << m.size << ", \"address\": "
        << m.data_rva << ", \"in_file\": " << Json(m.mapped) << ", \"loaded\": "
        << LoadedText(m.loaded) << ", \"sha256\": "
        << JsonDigest(i < digests.members.size() ? digests.members[i] : "");
    if (m.mapped) {
      out << ", \"file_offset\": " << m.file_offset << ", \"page_aligned\": "
          << Json(m.file_offset % kPageSize == 0 && m.data_rva % kPageSize == 0);
    }
    out << "}";
  }
  out << (layout.payload.empty() ? "" : "\n  ") << "],\n";
  out << "  \"setup_cabinet\": " << (v.cabinet_read ? JsonCabinet(v.cabinet) : "null") << ",\n";
  out << "  \"setup_program\": " << (v.program_read ? JsonProgram(v.program) : "null") << ",\n";
  out << "  \"previous_version\": ";
  if (!layout.has_previous_version) {
    out << "null";
  } else {
    out << "{\"valid\": " << Json(layout.previous_version_valid) << ", \"size\": "
        << layout.previous_version_size << ", \"languages\": "
        << layout.previous_version_languages;
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
  // end with the setup program's, where what it does depends on the machine (depends_on), or
  // where the image is unfit whatever the stub does.
  const bool stub_ends =
      r.image_fault.empty() && v.outcome == PayloadVerdict::Outcome::kStubExits;
  const bool depends = r.image_fault.empty() && v.outcome == PayloadVerdict::Outcome::kDepends;
  const char* exit_name = stub_ends ? ExitCodeName(v.code) : nullptr;
  out << "  \"verdict\": {\"accepted\": " << Json(r.accepted()) << ", \"stub_exit_code\": "
      << (stub_ends ? std::to_string(v.code) : "null") << ", \"stub_error\": "
      << (stub_ends ? std::to_string(v.extra) : "null") << ", \"stub_exit_name\": "
      << (exit_name != nullptr ? Json(std::string(exit_name)) : "null") << ", \"depends_on\": "
      << (depends ? Json(v.depends_on) : "null") << ", \"reason\": "
      << Json(!r.image_fault.empty() ? r.image_fault : v.reason);
  if (r.accepted()) {
    out << ", \"archive\": {\"name\": " << Json(v.archive_name) << ", \"type\": "
        << Json(PayloadTypeText(v.archive_type)) << "}, \"setup\": {\"name\": "
        << Json(v.setup_name) << ", \"type\": " << Json(PayloadTypeText(v.setup_type)) << "}";
  }
  out << ", \"notes\": [";
  for (size_t i = 0; i < v.notes.size(); ++i) out << (i == 0 ? "" : ", ") << Json(v.notes[i]);
  out << "]},\n  \"status\": " << (r.accepted() ? 0 : 1) << "\n}\n";
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
