#include "cli/option_table.h"

#include <cstring>
#include <vector>

#include "resources/application_face.h"
#include "cabinet/cabinet_writer.h"
#include "payload/stub_verdict.h"

namespace {

// How options set the command, one function for each kind of value.
template <std::string PackOptions::*field>
bool SetPackText(const OptionDefinition&, const std::string& value, Command& c, std::string&) {
  c.pack.*field = value;
  return true;
}

template <bool PackOptions::*field>
bool SetPackFlag(const OptionDefinition&, const std::string&, Command& c, std::string&) {
  c.pack.*field = true;
  return true;
}

template <std::string ArchiveOptions::*field>
bool SetArchiveText(const OptionDefinition&, const std::string& value, Command& c, std::string&) {
  c.archive.*field = value;
  return true;
}

bool SetArchiveQuiet(const OptionDefinition&, const std::string&, Command& c, std::string&) {
  c.archive.quiet = true;
  return true;
}

template <bool CheckOptions::*field>
bool SetCheckFlag(const OptionDefinition&, const std::string&, Command& c, std::string&) {
  c.check.*field = true;
  return true;
}

template <ProgressMode mode>
bool SetProgress(const OptionDefinition&, const std::string&, Command& c, std::string&) {
  c.pack.progress = mode;
  return true;
}

template <std::string PackOptions::*field>
bool SetPayloadType(const OptionDefinition& definition, const std::string& value, Command& c,
                    std::string& error) {
  const char* what = field == &PackOptions::archive_type ? "archive" : "setup program";
  PayloadType type = PayloadType::kPacked;
  if (!CheckPayloadType(value, what, type, error)) {
    error = definition.name + (" takes B7, BL or BN, not \"" + value + "\"");
    return false;
  }
  c.pack.*field = value;
  return true;
}

template <std::string CheckOptions::*field>
bool SetCheckText(const OptionDefinition&, const std::string& value, Command& c, std::string&) {
  c.check.*field = value;
  return true;
}

bool SetPreviousVersion(const OptionDefinition&, const std::string& value, Command& c,
                        std::string&) {
  c.pack.previous_version = value;
  c.pack.has_previous_version = true;
  return true;
}

bool SetCabinetTime(const OptionDefinition& definition, const std::string& value, Command& c,
                    std::string& error) {
  switch (ParseCabinetTime(value, c.pack.cabinet_time)) {
    case CabinetTimeText::kNotANumber:
      error = std::string(definition.name) + " takes seconds since 1970 (UTC), not \"" + value +
              "\"";
      return false;
    case CabinetTimeText::kOutOfRange:
      error = std::string(definition.name) + " " + value + " is out of range: " +
              CabinetDatesText();
      return false;
    case CabinetTimeText::kTime:
      break;
  }
  c.pack.has_cabinet_time = true;
  return true;
}

// "lzx:15" to "lzx:21", "mszip" or "none".
bool SetCabinetCompression(const OptionDefinition& definition, const std::string& value, Command& c,
                           std::string& error) {
  using Method = CabinetCompression::Method;
  CabinetCompression& compression = c.pack.cabinet_compression;
  c.pack.has_cabinet_compression = true;
  if (value == "mszip" || value == "none") {
    compression = {value == "mszip" ? Method::kMszip : Method::kNone, 0};
    return true;
  }
  for (int window = 15; window <= 21; ++window) {
    if (value == "lzx:" + std::to_string(window)) {
      compression = {Method::kLzx, window};
      return true;
    }
  }
  error = std::string(definition.name) + " takes lzx:15 to lzx:21, mszip or none, not \"" + value +
          "\"";
  return false;
}

// The shorthands for one version text; the two versions set the numbers too.
bool SetFaceShorthand(const OptionDefinition& definition, const std::string& value, Command& c,
                      std::string& error) {
  const bool numbers = std::strcmp(definition.face_key, kFileVersionKey) == 0 ||
                       std::strcmp(definition.face_key, kProductVersionKey) == 0;
  return AddFaceText(definition.name, definition.face_key, value, numbers, c.pack.face, error);
}

bool SetVersionString(const OptionDefinition& definition, const std::string& value, Command& c,
                      std::string& error) {
  const size_t equals = value.find('=');
  if (equals == std::string::npos) {
    error = std::string(definition.name) +
            " takes KEY=VALUE, such as OriginalFilename=setup.exe, not \"" + value + "\"";
    return false;
  }
  return AddFaceText(definition.name, value.substr(0, equals), value.substr(equals + 1), false,
                     c.pack.face, error);
}

// The table is built once from these: each line says what the help shows first.
struct Option {
  OptionDefinition definition;
  Option(const char* name, const char* value, unsigned commands, OptionSection section,
         const char* help,
         bool (*apply)(const OptionDefinition&, const std::string&, Command&, std::string&))
      : definition{name, nullptr, value, commands, section, help} {
    definition.apply = apply;
  }
  Option& Alias(const char* alias) {
    definition.alias = alias;
    return *this;
  }
  Option& Required() {
    definition.required = true;
    return *this;
  }
  Option& Repeatable() {
    definition.repeatable = true;
    return *this;
  }
  Option& MayBeEmpty() {
    definition.may_be_empty = true;
    return *this;
  }
  Option& Exclusive(int group) {
    definition.exclusive = group;
    return *this;
  }
  Option& FaceKey(const char* key) {
    definition.face_key = key;
    return *this;
  }
};

constexpr unsigned kPack = kPackOption;
constexpr unsigned kCheck = kCheckOption;
constexpr unsigned kArchive = kArchiveOption;
constexpr int kReportForm = 1;
constexpr int kProgressForm = 2;

const std::vector<OptionDefinition>& Table() {
  static const std::vector<OptionDefinition> table = [] {
    const Option options[] = {
        Option("--stub", "FILE", kPack, OptionSection::kFiles,
               "the bare stub, lumora-stub.exe, unsigned (sign the installer, not the stub). "
               "Default: the installed stub, share/lumora/lumora-stub.exe in the folder above "
               "lumora-pack's own, else lumora-stub.exe beside lumora-pack",
               SetPackText<&PackOptions::stub>),
        Option("--output", "APP.7z", kArchive, OptionSection::kFiles,
               "the archive to write; it appears only once it is complete",
               SetArchiveText<&ArchiveOptions::output>)
            .Alias("-o")
            .Required(),
        Option("--quiet", nullptr, kArchive, OptionSection::kReport,
               "no report of what the archive holds", SetArchiveQuiet)
            .Alias("-q"),
        Option("--archive", "FILE|DIR", kPack, OptionSection::kFiles,
               "the application's archive, which the setup program installs from; or the "
               "application's folder, which pack archives as lumora-pack archive does (in a "
               "temporary file beside the output, removed when pack ends), every entry with "
               "the time --cabinet-time or SOURCE_DATE_EPOCH gives, if any",
               SetPackText<&PackOptions::archive>)
            .Required(),
        Option("--setup", "FILE", kPack, OptionSection::kFiles,
               "the setup program, which the stub runs to install from the archive",
               SetPackText<&PackOptions::setup>)
            .Required(),
        Option("--output", "FILE", kPack, OptionSection::kFiles,
               "the installer to write. A file already there is replaced only once the new one "
               "is complete and read back; a device, a FIFO, a socket or a directory there is "
               "refused",
               SetPackText<&PackOptions::output>)
            .Alias("-o")
            .Required(),
        Option("--update-from", "PREVIOUS.exe", kPack, OptionSection::kFiles,
               "make an update: PREVIOUS.exe is the previous release's full installer; the "
               "archive member becomes a patch archive from its archive's files to --archive's, "
               "the setup program a patch (SETUP.PATCH, B7) from its setup program to --setup, "
               "and the previous version (RT_RCDATA 1) its archive's VERSION unless "
               "--previous-version is given. An update larger than half the full installer "
               "is refused unless --allow-large-update is given",
               SetPackText<&PackOptions::update_from>),
        Option("--allow-large-update", nullptr, kPack, OptionSection::kFiles,
               "with --update-from: write the update even when it is larger than half the full "
               "installer of the new release would be",
               SetPackFlag<&PackOptions::allow_large_update>),
        Option("--archive-type", "B7|BL|BN", kPack, OptionSection::kPayload,
               "B7: a packed archive, named to the setup program with --install-archive "
               "(default); BL, BN: handed on unchanged (--uncompressed-archive)",
               SetPayloadType<&PackOptions::archive_type>),
        Option("--setup-type", "BL|BN|B7", kPack, OptionSection::kPayload,
               "BL: compressed into a cabinet that the stub expands to setup.exe (default); BN: "
               "stored as it is; B7: a patch that the installed setup program turns into "
               "setup.exe",
               SetPayloadType<&PackOptions::setup_type>),
        Option("--archive-name", "NAME", kPack, OptionSection::kPayload,
               "the archive's resource name, default LUMORA.PACKED.7Z; it must begin with "
               "\"lumora\"",
               SetPackText<&PackOptions::archive_name>),
        Option("--setup-name", "NAME", kPack, OptionSection::kPayload,
               "the setup program's resource name, default SETUP.EX_ (BL), SETUP.EXE (BN) or "
               "SETUP.PATCH (B7); it must begin with \"setup\". Names are stored upper-case, as "
               "Windows looks them up, and may hold ASCII letters, digits, '.', '_' and '-'",
               SetPackText<&PackOptions::setup_name>),
        Option("--previous-version", "TEXT", kPack, OptionSection::kPayload,
               "the version this installer updates, handed to the setup program "
               "(resource RT_RCDATA 1)",
               SetPreviousVersion)
            .MayBeEmpty(),
        Option("--cabinet-time", "SECONDS", kPack, OptionSection::kPayload,
               "the setup program's time in its cabinet, in seconds since 1970 (UTC), within "
               "1980-2107. Default: SOURCE_DATE_EPOCH when it is set and not empty, else the "
               "setup file's own time",
               SetCabinetTime),
        Option("--cabinet-compression", "lzx:N|mszip|none", kPack, OptionSection::kPayload,
               "how the BL cabinet is compressed: LZX with a window of 2^N bytes, N from 15 to "
               "21 (default lzx:21, the smallest), MSZIP (deflate), or not at all",
               SetCabinetCompression),
        Option("--icon", "FILE.ico", kPack, OptionSection::kFace,
               "every image of the icon file in place of the stub's icon", 
               SetPackText<&PackOptions::icon>),
        Option("--product-name", "TEXT", kPack, OptionSection::kFace,
               "the version text ProductName", SetFaceShorthand)
            .FaceKey("ProductName"),
        Option("--company-name", "TEXT", kPack, OptionSection::kFace,
               "the version text CompanyName", SetFaceShorthand)
            .FaceKey("CompanyName"),
        Option("--file-description", "TEXT", kPack, OptionSection::kFace,
               "the version text FileDescription, which Windows shows as the program's name",
               SetFaceShorthand)
            .FaceKey("FileDescription"),
        Option("--copyright", "TEXT", kPack, OptionSection::kFace,
               "the version text LegalCopyright", SetFaceShorthand)
            .FaceKey("LegalCopyright"),
        Option("--file-version", "A.B.C.D", kPack, OptionSection::kFace,
               "the file version: four numbers from 0 to 65535, set as the version text "
               "FileVersion and as the numbers Windows compares",
               SetFaceShorthand)
            .FaceKey(kFileVersionKey),
        Option("--product-version", "A.B.C.D", kPack, OptionSection::kFace,
               "the product version, as the text ProductVersion and as numbers",
               SetFaceShorthand)
            .FaceKey(kProductVersionKey),
        Option("--version-string", "KEY=VALUE", kPack, OptionSection::kFace,
               "any version text by its key, such as OriginalFilename=contoso-setup.exe, "
               "InternalName=contoso-setup or Comments=...; an empty VALUE removes the text. "
               "May be given for several keys",
               SetVersionString)
            .Repeatable(),
        Option("--json", nullptr, kPack, OptionSection::kReport,
               "the report of what was written as one JSON object, as check --json prints it, "
               "with the warnings; when nothing is written, an object with the error",
               SetPackFlag<&PackOptions::json>)
            .Exclusive(kReportForm),
        Option("--quiet", nullptr, kPack, OptionSection::kReport,
               "no report; warnings and errors still go to standard error",
               SetPackFlag<&PackOptions::quiet>)
            .Alias("-q")
            .Exclusive(kReportForm),
        Option("--progress", nullptr, kPack, OptionSection::kReport,
               "show how far writing has come on standard error, whatever the payload's size "
               "(default: only on a terminal, for payloads of 64 MiB and more)",
               SetProgress<ProgressMode::kOn>)
            .Exclusive(kProgressForm),
        Option("--no-progress", nullptr, kPack, OptionSection::kReport,
               "never show progress", SetProgress<ProgressMode::kOff>)
            .Exclusive(kProgressForm),
        Option("--json", nullptr, kCheck, OptionSection::kReport,
               "the report as one JSON object on standard output",
               SetCheckFlag<&CheckOptions::json>)
            .Exclusive(kReportForm),
        Option("--quiet", nullptr, kCheck, OptionSection::kReport,
               "nothing printed; only the exit status", SetCheckFlag<&CheckOptions::quiet>)
            .Alias("-q")
            .Exclusive(kReportForm),
        Option("--require-signature", nullptr, kCheck, OptionSection::kSignature,
               "reject an installer that has no signature or one that is not verified against "
               "the file (a mismatched signature is rejected in any case). The signer's chain of "
               "trust is not judged",
               SetCheckFlag<&CheckOptions::require_signature>),
        Option("--against", "PREVIOUS.exe", kCheck, OptionSection::kReport,
               "for an update: apply it on this machine to the content of PREVIOUS.exe, the "
               "previous release's full installer, as the setup program would (its setup "
               "program's patch and its patch archive), and say whether it gives exactly the "
               "new release, every file verified, or the code the setup program would exit with "
               "(26: the previous release is not the update's base; 21: the update is damaged)",
               SetCheckText<&CheckOptions::against>),
    };
    std::vector<OptionDefinition> specs;
    for (const Option& o : options) specs.push_back(o.definition);
    return specs;
  }();
  return table;
}

}  // namespace

const OptionDefinition* OptionTable(size_t& count) {
  count = Table().size();
  return Table().data();
}

const OptionDefinition* FindOption(unsigned command, const std::string& name) {
  for (const OptionDefinition& o : Table()) {
    if ((o.commands & command) != 0 &&
        (name == o.name || (o.alias != nullptr && name == o.alias))) {
      return &o;
    }
  }
  return nullptr;
}

const OptionDefinition* ShorthandForKey(const std::string& key) {
  for (const OptionDefinition& o : Table()) {
    if (o.face_key != nullptr && key == o.face_key) return &o;
  }
  return nullptr;
}

const char* SectionTitle(OptionSection section) {
  switch (section) {
    case OptionSection::kFiles:
      return "files";
    case OptionSection::kPayload:
      return "payload";
    case OptionSection::kFace:
      return "the application's face (the stub's own stay when these are not given)";
    case OptionSection::kReport:
      return "what is printed";
    case OptionSection::kSignature:
      return "signature";
  }
  return "";
}

CabinetTimeText ParseCabinetTime(const std::string& text, int64_t& seconds) {
  // 18 digits stay within int64_t, and far beyond the cabinet's last date.
  if (text.empty() || text.size() > 18 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return CabinetTimeText::kNotANumber;
  }
  const int64_t value = std::stoll(text);
  if (value < kEarliestCabinetTime || value > kLatestCabinetTime) {
    return CabinetTimeText::kOutOfRange;
  }
  seconds = value;
  return CabinetTimeText::kTime;
}

std::string CabinetDatesText() {
  return "the cabinet's dates run from " + std::to_string(kEarliestCabinetTime) +
         " (1980-01-01) to " + std::to_string(kLatestCabinetTime) + " (2107-12-31)";
}
