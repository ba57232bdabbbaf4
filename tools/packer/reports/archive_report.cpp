#include "reports/archive_report.h"

#include "platform/escaped_text.h"

namespace {

const char* FormatText(ArchiveFacts::Format format) {
  switch (format) {
    case ArchiveFacts::Format::kSevenZip: return "7z";
    case ArchiveFacts::Format::kPatchArchive: return "patch archive";
    case ArchiveFacts::Format::kOther: break;
  }
  return "not a 7z archive";
}

std::string Counted(uint64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

void PrintArchiveFacts(const ArchiveFacts& facts, std::ostream& out) {
  out << "archive: " << FormatText(facts.format);
  if (facts.listed) {
    out << ", " << facts.methods;
    if (facts.dictionary != 0) out << ", dictionary " << DictionaryText(facts.dictionary);
    out << ", " << Counted(facts.files, "file", "files") << " and "
        << Counted(facts.directories, "folder", "folders") << ", " << facts.unpacked_size
        << " bytes unpacked, in " << Counted(facts.blocks, "block", "blocks");
  } else if (facts.format == ArchiveFacts::Format::kSevenZip) {
    out << ", header not read (" << SetupRefusalText(facts) << ")";
  }
  out << "\n";
}

std::string JsonArchiveFacts(const ArchiveFacts& facts) {
  std::string json = "{\"format\": " + JsonString(std::string(FormatText(facts.format))) +
                     ", \"readable\": " + (facts.listed ? "true" : "false");
  if (facts.listed) {
    json += ", \"methods\": " + JsonString(facts.methods) +
            ", \"dictionary\": " + std::to_string(facts.dictionary) +
            ", \"files\": " + std::to_string(facts.files) +
            ", \"folders\": " + std::to_string(facts.directories) +
            ", \"unpacked_size\": " + std::to_string(facts.unpacked_size) +
            ", \"blocks\": " + std::to_string(facts.blocks);
  }
  // What the setup program we ship exits with before writing (0: it installs), and why; null for
  // a patch archive, which it applies instead.
  const bool judged = facts.format != ArchiveFacts::Format::kPatchArchive;
  json += ", \"setup_exit_code\": " +
          (judged ? std::to_string(facts.setup_exit_code) : std::string("null"));
  json += ", \"setup_refusal\": " +
          (facts.SetupRefuses() ? JsonString(SetupRefusalText(facts)) : std::string("null"));
  return json + "}";
}
