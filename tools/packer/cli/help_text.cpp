#include "cli/help_text.h"

#include <vector>

#include "cli/option_table.h"

namespace {

// What each command is about, said once for the help and the manual page.
const char kSummary[] =
    "lumora-pack attaches an application's payload to the bare Lumora installer stub, and checks "
    "installers the way the stub will read them.";

const char kArchiveUsage[] = "lumora-pack archive --output APP.7z [--quiet] DIR";
const char kPackUsage[] = "lumora-pack pack --archive FILE|DIR --setup FILE -o OUT.exe [options]";
const char kCheckUsage[] =
    "lumora-pack check [--json | --quiet] [--require-signature] INSTALLER.exe";

const char* const kPackParagraphs[] = {
    "Writes a copy of the bare stub with the archive and the setup program attached as the "
    "resources the stub reads, and refuses any layout the stub would reject. The installer is "
    "page-aligned, has a correct checksum and no overlay, ready for signing (osslsigncode or "
    "signtool); it is read back the way the stub reads it before it replaces the output. The same "
    "inputs and time give the same bytes, on Linux and Windows alike.",
    "Options take their value as the next argument or after '=' (--output=INSTALLER.exe); each "
    "may be given once, --version-string once for each key. \"--\" ends the options.",
    "When face options are given but a version text still holds the stub's own (CompanyName "
    "\"Velmar\", OriginalFilename \"lumora-stub.exe\", ...) or the icon is still the stub's, a "
    "warning on standard error names the option that sets it.",
    "With --update-from PREVIOUS.exe, pack writes an update installer: from the previous "
    "release's full installer (its archive, decoded as the setup program decodes it, and its "
    "setup program) and the new release (--archive, a 7z archive or a folder, and --setup), a "
    "patch archive of the files (unchanged, patched, added, removed; the size and SHA-256 of "
    "every file it relies on and makes) as the archive member, and the setup program as a patch "
    "SETUP.PATCH (B7) that the installed setup program rebuilds the new one from. An update "
    "larger than half of what the full installer would be is refused unless "
    "--allow-large-update is given; the report ends with both sizes. An update cannot be made "
    "from an installer that is itself an update.",
    "Interrupted (SIGINT, SIGTERM, SIGHUP; Ctrl+C or the console closed on Windows), pack removes "
    "its temporary files beside the output (OUT.partial-*, OUT.cab-*) before it ends.",
};

const char* const kArchiveParagraphs[] = {
    "Writes a 7z archive of the folder DIR's contents, named relative to DIR, for the setup "
    "program to install: solid LZMA at its highest setting, Windows programs and DLLs (found by "
    "their content) through the x86 branch converter (BCJ2) in a block of their own, the rest in "
    "another, the header compressed. Empty files and folders are kept. Names are sorted, attributes "
    "normalised, and every entry gets the time SOURCE_DATE_EPOCH gives (none when it is unset), "
    "so that the same folder gives the same bytes on every run, on Linux and Windows alike.",
    "A link to a file is archived as the file; a link to a folder, a device, a FIFO or a name "
    "that is not UTF-8 is refused. 7-Zip reads and extracts the archive (7zz t, 7zz x).",
};

const char* const kCheckParagraphs[] = {
    "Reads an installer the way the stub will: its sections and their alignment, its payload "
    "members with their sizes, offsets and storage, its previous version, its icon and version "
    "texts, its checksum and its signature, and the stub's verdict.",
    "A signature is checked against the file: the digest it covers (SHA-1, SHA-256, SHA-384 or "
    "SHA-512, as the signature says) must match the file as it is now, and the signer's "
    "signature must hold with the key of the certificate it carries. A file changed after "
    "signing is rejected, and so is a certificate table of another shape than the one entry "
    "(revision 0x0200) that fills it at the end of the file. Whether the signer is trusted (its "
    "certificate chain, revocation, the time stamp) is not judged here; Windows judges that on "
    "the machine that runs the installer.",
    "The stub works in a folder it makes beside the installer, so long member names or a long "
    "previous version leave it room only from short installer folders: check names the longest "
    "folder that works, and where that is under 100 characters the verdict depends on the "
    "installer's folder.",
    "An update installer is reported as one: the version it updates and how many files it "
    "patches, adds, removes and keeps. With --against PREVIOUS.exe, check applies it on this "
    "machine to the previous release's full installer's content as the setup program would, and "
    "says whether it gives exactly the new release (every file verified) or the code the setup "
    "program would exit with: 26 when the previous release is not the one the update was made "
    "from, 21 when the update is damaged.",
    "--json adds the SHA-256 digests of the installer and of each payload member, and a schema "
    "number that changes when a field is removed or changes its meaning.",
};

const char kPackExit[] =
    "0 written; 1 refused: an input cannot be used or the stub would reject the layout (the "
    "reason on standard error); 2 the command line is wrong (an unknown option, a missing or "
    "malformed value). Nothing is written unless the status is 0.";
const char kArchiveExit[] =
    "0 written; 1 the folder cannot be archived or the archive cannot be written (the reason on "
    "standard error); 2 the command line is wrong. Nothing is written unless the status is 0.";
const char kCheckExit[] =
    "0 the stub would accept the installer; 1 it would not (the report names the exit code it "
    "would end with), its signature does not match the file, or --require-signature finds no "
    "verified signature, or --against finds that the update does not give the new release; 2 "
    "the file is not a readable PE image, --against names no full installer or checks no "
    "update, or the command line is wrong.";

constexpr size_t kWidth = 79;
constexpr size_t kOptionColumn = 26;

// Text broken into lines of at most kWidth columns, the first after first_indent spaces and the
// others after indent.
std::string Wrap(const std::string& text, size_t first_indent, size_t indent) {
  std::string out, line(first_indent, ' ');
  bool has_word = false;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(at, end - at);
    at = end + 1;
    if (word.empty()) continue;
    if (has_word && line.size() + 1 + word.size() > kWidth) {
      out += line + "\n";
      line.assign(indent, ' ');
      has_word = false;
    }
    line += (has_word ? " " : "") + word;
    has_word = true;
  }
  return out + line + "\n";
}

std::string OptionLabel(const OptionDefinition& o) {
  std::string label = o.alias != nullptr ? std::string(o.alias) + ", " + o.name : o.name;
  if (o.value != nullptr) label += std::string(" ") + o.value;
  return label;
}

// A command's options, grouped by section in the order the help and the manual page show them;
// a section with none of them is left out.
struct SectionOptions {
  OptionSection section;
  std::vector<const OptionDefinition*> options;
};

std::vector<SectionOptions> OptionsBySection(unsigned command) {
  size_t count = 0;
  const OptionDefinition* table = OptionTable(count);
  std::vector<SectionOptions> sections;
  for (OptionSection section : {OptionSection::kFiles, OptionSection::kPayload,
                                OptionSection::kFace, OptionSection::kReport,
                                OptionSection::kSignature}) {
    SectionOptions group{section, {}};
    for (size_t i = 0; i < count; ++i) {
      if ((table[i].commands & command) != 0 && table[i].section == section) {
        group.options.push_back(&table[i]);
      }
    }
    if (!group.options.empty()) sections.push_back(group);
  }
  return sections;
}

std::string OptionsHelp(unsigned command) {
  std::string out;
  for (const SectionOptions& group : OptionsBySection(command)) {
    out += std::string(out.empty() ? "" : "\n") + SectionTitle(group.section) + ":\n";
    for (const OptionDefinition* o : group.options) {
      const std::string label = "  " + OptionLabel(*o);
      std::string help = Wrap(o->help, kOptionColumn, kOptionColumn);
      if (label.size() + 2 > kOptionColumn) {
        out += label + "\n" + help;
      } else {
        out += help.replace(0, label.size(), label);
      }
    }
  }
  return out;
}

std::string Paragraphs(const char* const* paragraphs, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) out += (i == 0 ? "" : "\n") + Wrap(paragraphs[i], 0, 0);
  return out;
}

// Text as roff takes it: backslashes escaped, a hyphen that starts an option ("--output", "-o")
// written as a minus sign so that it can be searched for and pasted, and no line starting with a
// control character.
std::string Roff(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const char before = i == 0 ? '\n' : text[i - 1];
    if (before == '\n' && (c == '.' || c == '\'')) out += "\\&";
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-' && std::string(" \n-([|\"").find(before) != std::string::npos) {
      out += "\\-";
    } else {
      out += c;
    }
  }
  return out;
}

std::string RoffOptions(unsigned command) {
  std::string out;
  for (const SectionOptions& group : OptionsBySection(command)) {
    out += ".SS \"" + Roff(SectionTitle(group.section)) + "\"\n";
    for (const OptionDefinition* o : group.options) {
      out += ".TP\n";
      if (o->alias != nullptr) out += "\\fB" + Roff(o->alias) + "\\fR, ";
      out += "\\fB" + Roff(o->name) + "\\fR";
      if (o->value != nullptr) out += " \\fI" + Roff(o->value) + "\\fR";
      out += "\n" + Roff(o->help) + ".\n";
    }
  }
  return out;
}

std::string RoffParagraphs(const char* const* paragraphs, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) out += (i == 0 ? "" : ".PP\n") + Roff(paragraphs[i]) + "\n";
  return out;
}

}  // namespace

std::string HelpText(const std::string& topic) {
  if (topic == "archive") {
    return "usage: " + std::string(kArchiveUsage) + "\n\n" +
           Paragraphs(kArchiveParagraphs, std::size(kArchiveParagraphs)) + "\n" +
           OptionsHelp(kArchiveOption) + "\n" +
           Wrap(std::string("exit status: ") + kArchiveExit, 0, 0);
  }
  if (topic == "pack") {
    return "usage: " + std::string(kPackUsage) + "\n\n" +
           Paragraphs(kPackParagraphs, std::size(kPackParagraphs)) + "\n" +
           OptionsHelp(kPackOption) + "\n" + Wrap(std::string("exit status: ") + kPackExit, 0, 0);
  }
  if (topic == "check") {
    return "usage: " + std::string(kCheckUsage) + "\n\n" +
           Paragraphs(kCheckParagraphs, std::size(kCheckParagraphs)) + "\n" +
           OptionsHelp(kCheckOption) + "\n" +
           Wrap(std::string("exit status: ") + kCheckExit, 0, 0);
  }
  return Wrap(kSummary, 0, 0) + "\nusage:\n  " + kArchiveUsage + "\n  " + kPackUsage + "\n  " + kCheckUsage +
         "\n  lumora-pack --version\n"
         "  lumora-pack help [archive | pack | check | --man]\n"
         "      (also lumora-pack --help, archive --help, pack --help, check --help)\n"
         "\n" +
         Wrap(std::string("archive, exit status: ") + kArchiveExit, 0, 2) +
         Wrap(std::string("pack, exit status: ") + kPackExit, 0, 2) +
         Wrap(std::string("check, exit status: ") + kCheckExit, 0, 2) +
         "\n\"lumora-pack help --man\" prints the manual page, lumora-pack(1).\n";
}

std::string ManualPage() {
  std::string out;
  out += ".TH LUMORA\\-PACK 1 \"\" \"lumora-pack " + std::string(kPackerVersion) +
         "\" \"User Commands\"\n";
  // Option names and file names read badly hyphenated or stretched across a line.
  out += ".nh\n.ad l\n";
  out += ".SH NAME\nlumora\\-pack \\- attach a payload to the Lumora installer stub, and check "
         "installers\n";
  out += ".SH SYNOPSIS\n";
  out += ".B lumora\\-pack archive\n\\fB\\-\\-output\\fR \\fIAPP.7z\\fR "
         "[\\fB\\-\\-quiet\\fR] \\fIDIR\\fR\n.br\n";
  out += ".B lumora\\-pack pack\n\\fB\\-\\-archive\\fR \\fIFILE\\fR|\\fIDIR\\fR \\fB\\-\\-setup\\fR \\fIFILE\\fR "
         "\\fB\\-\\-output\\fR \\fIINSTALLER.exe\\fR [\\fIoptions\\fR]\n.br\n";
  out += ".B lumora\\-pack check\n[\\fB\\-\\-json\\fR | \\fB\\-\\-quiet\\fR] "
         "[\\fB\\-\\-require\\-signature\\fR] \\fIINSTALLER.exe\\fR\n.br\n";
  out += ".B lumora\\-pack \\-\\-version\n.br\n";
  out += ".B lumora\\-pack help\n[\\fBpack\\fR | \\fBcheck\\fR | \\fB\\-\\-man\\fR]\n";
  out += ".SH DESCRIPTION\n" + Roff(kSummary) + "\n";
  out += ".SS archive\n" + RoffParagraphs(kArchiveParagraphs, std::size(kArchiveParagraphs));
  out += ".SS pack\n" + RoffParagraphs(kPackParagraphs, std::size(kPackParagraphs));
  out += ".SS check\n" + RoffParagraphs(kCheckParagraphs, std::size(kCheckParagraphs));
  out += ".SH ARCHIVE OPTIONS\n" + RoffOptions(kArchiveOption);
  out += ".SH PACK OPTIONS\n" + RoffOptions(kPackOption);
  out += ".SH CHECK OPTIONS\n" + RoffOptions(kCheckOption);
  out += ".SH EXIT STATUS\n.TP\n.B archive\n" + Roff(kArchiveExit) + "\n.TP\n.B pack\n" + Roff(kPackExit) + "\n.TP\n.B check\n" +
         Roff(kCheckExit) + "\n";
  out += ".SH ENVIRONMENT\n.TP\n.B SOURCE_DATE_EPOCH\n" +
         Roff("The setup program's time in its cabinet, in seconds since 1970 (UTC), unless "
              "--cabinet-time is given: a build that fixes its time gets the same installer "
              "again. Empty counts as unset; any other value that is not such a number within "
              "1980-2107 is refused. Also the time of every entry of the archives that archive "
              "and pack --archive DIR write (for pack, --cabinet-time comes first); without it "
              "they store no times.") +
         "\n";
  out += ".SH FILES\n.TP\n.I share/lumora/lumora\\-stub.exe\n" +
         Roff("The bare stub that pack takes when --stub is not given, in the folder above the "
              "one lumora-pack runs from (/usr/share/lumora/lumora-stub.exe for "
              "/usr/bin/lumora-pack); "
              "else lumora-stub.exe beside lumora-pack itself, as the Windows zip has them.") +
         "\n";
  out += ".SH EXAMPLES\n.nf\n" +
         Roff("lumora-pack archive --output app.7z build/app\n"
              "lumora-pack pack --archive app.7z --setup setup.exe --output installer.exe \\\n"
              "    --icon app.ico --product-name \"Contoso Viewer\" --file-version 2.5.0.17 \\\n"
              "    --version-string OriginalFilename=contoso-setup.exe\n"
              "osslsigncode sign -pkcs12 release.pfx -h sha256 -in installer.exe \\\n"
              "    -out installer-signed.exe\n"
              "lumora-pack check --require-signature installer-signed.exe\n"
              "lumora-pack check --json installer-signed.exe") +
         "\n.fi\n";
  out += ".SH SEE ALSO\n.BR osslsigncode (1),\n.BR 7zz (1)\n";
  return out;
}
