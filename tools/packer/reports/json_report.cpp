#include "reports/json_report.h"

#include "cabinet/cabinet_format.h"
#include "cabinet/cabinet_header.h"
#include "platform/escaped_text.h"
#include "reports/archive_report.h"
#include "pe/pe_format.h"
#include "platform/utf_text.h"
#include "reports/member_role.h"
#include "reports/update_report.h"

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

std::string JsonProgram(const ProgramFacts& p, bool shipped) {
  std::string out = "{\"is\": " + Json(p.Describe()) + ", \"windows_x64_program\": " +
                    Json(p.IsWindowsX64Program()) + ", \"shipped\": " + Json(shipped);
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

// A JSON array of texts.
std::string JsonList(const std::vector<std::string>& texts) {
  std::string json = "[";
  for (size_t i = 0; i < texts.size(); ++i) json += (i == 0 ? "" : ", ") + Json(texts[i]);
  return json + "]";
}

}  // namespace

std::vector<std::string> ReportWarnings(const InstallerReport& report,
                                        const std::vector<std::string>& command_warnings) {
  std::vector<std::string> warnings = command_warnings;
  for (const std::string& note : report.layout.verdict.notes) {
    bool said = false;
    for (const std::string& w : command_warnings) said = said || w == note;
    if (!said) warnings.push_back(note);
  }
  return warnings;
}

void PrintJsonReport(const InstallerReport& r, const ReportDigests& digests,
                     const std::vector<std::string>& warnings, std::ostream& out) {
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
  out << "  \"archive\": " << (v.archive_read ? JsonArchiveFacts(v.archive) : "null") << ",\n";
  out << "  \"setup_program\": " << (v.program_read ? JsonProgram(v.program, v.shipped_setup)
                                                      : "null") << ",\n";
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
  out << ",\n  \"update\": " << UpdateJson(r.update);
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
  // The stub's own exit code where it would end the run itself, or the code of the setup program
  // we ship where that refuses the archive (setup_refuses; the stub passes it on); null where the
  // run would end with what the setup program makes of the installation, where what it does
  // depends on the machine (depends_on), or where the image is unfit whatever the stub does.
  const bool stub_ends =
      r.image_fault.empty() && v.outcome == PayloadVerdict::Outcome::kStubExits;
  const bool depends = r.image_fault.empty() && v.outcome == PayloadVerdict::Outcome::kDepends;
  const char* exit_name =
      !stub_ends ? nullptr : v.setup_refuses ? SetupExitCodeName(v.code) : ExitCodeName(v.code);
  out << "  \"verdict\": {\"accepted\": " << Json(r.accepted()) << ", \"stub_exit_code\": "
      << (stub_ends ? std::to_string(v.code) : "null") << ", \"stub_error\": "
      << (stub_ends ? std::to_string(v.extra) : "null") << ", \"stub_exit_name\": "
      << (exit_name != nullptr ? Json(std::string(exit_name)) : "null")
      << ", \"setup_refuses\": " << Json(stub_ends && v.setup_refuses) << ", \"depends_on\": "
      << (depends ? Json(v.depends_on) : "null") << ", \"longest_folder\": "
      << (v.longest_folder != 0 ? std::to_string(v.longest_folder) : "null")
      << ", \"reason\": "
      << Json(!r.image_fault.empty() ? r.image_fault : v.reason);
  if (r.accepted()) {
    out << ", \"archive\": {\"name\": " << Json(v.archive_name) << ", \"type\": "
        << Json(PayloadTypeText(v.archive_type)) << "}, \"setup\": {\"name\": "
        << Json(v.setup_name) << ", \"type\": " << Json(PayloadTypeText(v.setup_type)) << "}";
  }
  out << ", \"notes\": [";
  for (size_t i = 0; i < v.notes.size(); ++i) out << (i == 0 ? "" : ", ") << Json(v.notes[i]);
  out << "]},\n  \"warnings\": " << JsonList(warnings) << ",\n  \"status\": "
      << (r.accepted() && !r.update.Fails() ? 0 : 1) << "\n}\n";
}

void PrintJsonUnreadable(const std::string& path, const std::string& error, std::ostream& out) {
  out << "{\n  \"schema\": " << kReportSchema << ",\n  \"installer\": " << Json(path)
      << ",\n  \"readable\": false,\n  \"error\": " << Json(error) << ",\n  \"status\": 2\n}\n";
}

void PrintJsonPackFailure(const std::string& output, const std::string& error,
                          const std::vector<std::string>& warnings, std::ostream& out) {
  out << "{\n  \"schema\": " << kReportSchema << ",\n  \"output\": " << Json(output)
      << ",\n  \"written\": false,\n  \"error\": " << Json(error) << ",\n  \"warnings\": "
      << JsonList(warnings) << ",\n  \"status\": 1\n}\n";
}
