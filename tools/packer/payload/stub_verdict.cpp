#include "payload/stub_verdict.h"

#include <algorithm>

#include "payload/shipped_setup_program.h"
#include "platform/escaped_text.h"
#include "platform/utf_text.h"

namespace {

constexpr uint32_t kErrorBadExeFormat = 193;  // ERROR_BAD_EXE_FORMAT, from CreateProcessW

const char* MemberWord(PayloadMember member) {
  return member == PayloadMember::kArchive ? "archive" : "setup program";
}

std::u16string Widen(const char* ascii) {
  std::u16string text;
  for (const char* c = ascii; *c != 0; ++c) text += static_cast<char16_t>(*c);
  return text;
}

std::string Shown(const std::u16string& name, PayloadType type) {
  return QuotedName(name) + " in " + PayloadTypeText(type);
}

// A member's bytes as the stub writes them: what ResourceData reads, as a source for the readers
// of cabinets and programs.
class ResourceBytes final : public ByteSource {
 public:
  ResourceBytes(const ResourceData& data, const Resource& resource, std::string name)
      : data_(data), resource_(resource), name_(std::move(name)) {}
  uint64_t size() const override { return resource_.size; }
  bool ReadAt(uint64_t offset, void* buffer, size_t size, std::string& error) const override {
    if (offset > resource_.size || size > resource_.size - offset) {
      error = name_ + " ends before " + std::to_string(offset + size) + " bytes";
      return false;
    }
    return data_.Read(resource_, offset, static_cast<uint8_t*>(buffer), size, error);
  }
  const std::string& path() const override { return name_; }

 private:
  const ResourceData& data_;
  const Resource& resource_;
  std::string name_;
};

// Each step of the verdict: true when the stub goes on past it.
class Judge {
 public:
  explicit Judge(PayloadVerdict& verdict) : v_(verdict) {}

  bool Exits(uint32_t code, uint32_t extra, std::string reason) {
    v_.outcome = PayloadVerdict::Outcome::kStubExits;
    v_.code = code;
    v_.extra = extra;
    v_.reason = std::move(reason);
    return false;
  }
  bool Depends(std::string on, std::string reason) {
    v_.outcome = PayloadVerdict::Outcome::kDepends;
    v_.depends_on = std::move(on);
    v_.reason = std::move(reason);
    return false;
  }

 private:
  PayloadVerdict& v_;
};

const ScannedType* Listed(const std::vector<ScannedType>& types, PayloadType type) {
  for (const ScannedType& t : types) {
    if (t.type == type) return &t;
  }
  return nullptr;
}

std::string LanguagesText(uint32_t count) {
  return "present in " + std::to_string(count) + " languages: which one the stub reads depends on "
         "the machine's language";
}

// The scan of "B7", "BL" and "BN", name by name, as the stub's enumeration and the shared rule
// meet them. Sets the members found and, at the end of each type, their types.
bool Scan(const std::vector<ScannedType>& types, PayloadVerdict& v, Judge& judge,
          const PayloadEntry*& archive, const PayloadEntry*& setup) {
  for (PayloadType type : kPayloadTypeOrder) {
    const ScannedType* listed = Listed(types, type);
    for (size_t i = 0; listed != nullptr && i < listed->entries.size(); ++i) {
      const PayloadEntry& e = listed->entries[i];
      const Resource& r = e.resource;
      // The enumeration ends a type quietly at an identifier and at a name it cannot find again;
      // what FindResourceW then finds depends on the machine's language where there are several.
      if (!r.name.named || !e.findable) break;
      // The enumeration hands the stub the name as a terminated string, cut at a zero unit.
      const std::u16string name = TerminatedName(r.name);
      if (e.languages > 1) {
        return judge.Depends("the machine's language",
                             "resource " + Shown(name, type) + " is " + LanguagesText(e.languages));
      }
      // An empty resource ends its type quietly too.
      if (r.size == 0) break;
      PayloadMember member = PayloadMember::kArchive;
      const uint32_t error = ClassifyMemberName(name.c_str(), archive != nullptr, setup != nullptr,
                                                member);
      if (error != 0) {
        std::string why;
        if (error == kPayloadErrorUnknownName) {
          why = "resource " + Shown(name, type) + " begins with neither \"lumora\" nor \"setup\"";
        } else if (error == kPayloadErrorSecondMember) {
          why = std::string("a second ") + MemberWord(member) + ", " + Shown(name, type);
        } else {
          why = "resource name " + Shown(name, type) + " is " + std::to_string(name.size()) +
                " units long (at most " + std::to_string(kMemberNameCapacity - 1) + ")";
        }
        return judge.Exits(ScanFailureCode(v.archive_found), error, why);
      }
      const bool is_archive = member == PayloadMember::kArchive;
      (is_archive ? v.archive_name : v.setup_name) = name;
      (is_archive ? archive : setup) = &e;
    }
    if (archive != nullptr && !v.archive_found) {
      v.archive_found = true;
      v.archive_type = type;
    }
    if (setup != nullptr && !v.setup_found) {
      v.setup_found = true;
      v.setup_type = type;
    }
  }
  return true;
}

}  // namespace

std::string ForeignImportsNote(const ProgramFacts& program) {
  const std::vector<std::string> outside = ImportsOutsideWindows(program);
  if (outside.empty()) return "";
  std::string list;
  for (const std::string& dll : outside) list += (list.empty() ? "" : ", ") + Escaped(dll);
  return "the setup program imports DLLs that Windows does not carry (" + list +
         "); the stub extracts only setup.exe and the archive, so it starts only where these "
         "are installed";
}

namespace {

// Whether the stub starts the setup program it wrote: CreateProcessW on a 64-bit Windows.
bool JudgeLaunch(const ProgramFacts& program, PayloadVerdict& v, Judge& judge) {
  const std::string what = "the setup program is " + program.Describe();
  if (program.IsWindowsX64Program()) {
    const std::string imports = ForeignImportsNote(program);
    if (!imports.empty()) v.notes.push_back(imports);
    if (!program.imports_read) {
      v.notes.push_back("the setup program's import table could not be read");
    }
    return true;
  }
  switch (program.kind) {
    case FileKind::kWindowsProgram:
      if (program.dll || !program.executable) {
        return judge.Exits(EXIT_SETUP_LAUNCH_FAILED, kErrorBadExeFormat, what);
      }
      if (program.machine == kMachineAmd64) {
        return judge.Depends("the subsystem the program is for",
                             what + ": Windows starts programs for the GUI and console only");
      }
      return judge.Depends("the machine's processor",
                           what + ": it starts only where Windows runs programs of that machine "
                                  "(32-bit support, an ARM64 processor)");
    case FileKind::kDosProgram:
      return judge.Depends("the system: 64-bit Windows starts no DOS program (124), Wine looks "
                           "for its DOS support (122)",
                           what);
    case FileKind::kDamagedProgram:
      return judge.Depends("how the system's loader takes a damaged image", what);
    case FileKind::kEmpty:
      return judge.Depends("how the system takes an empty program", what);
    default:
      return judge.Exits(EXIT_SETUP_LAUNCH_FAILED, kErrorBadExeFormat, what + ", not a program");
  }
}

}  // namespace

std::string PayloadTypeText(PayloadType type) { return PayloadTypeName(type).narrow; }

bool ParsePayloadType(const std::u16string& name, PayloadType& type) {
  for (PayloadType t : kPayloadTypeOrder) {
    if (name == Widen(PayloadTypeName(t).narrow)) {
      type = t;
      return true;
    }
  }
  return false;
}

bool CheckPayloadType(const std::string& text, const char* what, PayloadType& type,
                      std::string& error) {
  std::u16string wide;
  if (Utf8ToUtf16(text, wide) && ParsePayloadType(wide, type)) return true;
  error = std::string("the ") + what + " type must be B7, BL or BN, not " + Quoted(text);
  return false;
}

bool MemberOfName(const std::u16string& name, PayloadMember& member) {
  if (StartsWithAsciiNoCase(name.c_str(), kArchivePrefix.narrow)) {
    member = PayloadMember::kArchive;
    return true;
  }
  if (StartsWithAsciiNoCase(name.c_str(), kSetupPrefix.narrow)) {
    member = PayloadMember::kSetup;
    return true;
  }
  return false;
}

std::u16string AsciiUpper(std::u16string text) {
  for (char16_t& c : text) {
    if (c >= u'a' && c <= u'z') c -= u'a' - u'A';
  }
  return text;
}

std::string StorageText(PayloadMember member, PayloadType type) {
  if (member == PayloadMember::kArchive) {
    return type == PayloadType::kPacked ? "packed archive (--install-archive)"
                                        : "archive handed on unchanged (--uncompressed-archive)";
  }
  if (type == PayloadType::kPacked) return "patch for the installed setup program";
  if (type == PayloadType::kCabinet) return "cabinet, expanded to setup.exe";
  return "uncompressed, written as setup.exe";
}

bool MakeMemberName(const std::string& name, PayloadMember member, PayloadType type,
                    std::u16string& stored, std::string& error) {
  const std::string what = std::string("the ") + MemberWord(member) + "'s name " + Quoted(name);
  const char* prefix =
      member == PayloadMember::kArchive ? kArchivePrefix.narrow : kSetupPrefix.narrow;
  stored = AsciiUpper(std::u16string(name.begin(), name.end()));
  // Every name the packer writes is a plain file name, even one the stub never writes under (an
  // uncompressed setup program's): Windows upper-cases a name with its own tables before looking
  // it up, and only for ASCII are those certain to agree with the name as stored.
  if (!IsPlainFileName(stored.c_str())) {
    error = what + " may hold only ASCII letters, digits, '.', '_' and '-', without \"..\" and " +
            "not ending in a dot: it becomes a file name in the stub's work directory";
    return false;
  }
  PayloadMember found = PayloadMember::kArchive;
  if (!MemberOfName(stored, found) || found != member) {
    error = what + " must begin with \"" + prefix + "\": the stub tells the archive by the prefix " +
            "\"lumora\" and the setup program by \"setup\", at the start of the name";
    return false;
  }
  if (stored.size() > kLongestMemberName) {
    error = std::string("the ") + MemberWord(member) + "'s name is " + std::to_string(stored.size()) +
            " characters long; the stub takes names of at most " +
            std::to_string(kLongestMemberName) +
            " (the longest that fits a path in its work directory, even at a drive's root)";
    return false;
  }
  const NamedMember storage =
      member == PayloadMember::kArchive ? NamedMember::kArchive : SetupStorage(type);
  if (!IsUsableMemberName(storage, stored.c_str())) {
    error = "a patch setup program (B7) cannot be named \"setup.exe\": the installed setup "
            "program writes the new setup.exe beside it";
    return false;
  }
  if (member == PayloadMember::kSetup && type == PayloadType::kCabinet &&
      IsSetupExeName(stored.c_str())) {
    error = "a cabinet setup program (BL) cannot be named \"setup.exe\": the stub expands it "
            "into a file of that name beside it";
    return false;
  }
  return true;
}

bool IsPreviousVersion(const Resource& resource) {
  return HasId(resource.type, kRtRcdata) && HasId(resource.name, kPreviousVersionId);
}

bool CheckPreviousVersion(const std::u16string& version, size_t archive_name_units,
                          PayloadType archive_type, std::string& error) {
  // The stub puts the version between double quotes on the setup program's command line and
  // escapes nothing: a quote inside it ends the argument, and a backslash before the closing
  // quote escapes that quote, so that the switches after it run into the version's argument.
  if (!CanCarryPreviousVersion(version.c_str())) {
    const bool backslash = !version.empty() && version.back() == u'\\';
    error = backslash ? "the previous version may not end in a backslash: on the setup program's "
                        "command line it would escape the closing quote"
                      : "the previous version may not hold double quotes or control characters";
    return false;
  }
  const size_t longest =
      LongestPreviousVersion(static_cast<uint32_t>(archive_name_units), archive_type);
  if (version.size() > longest) {
    error = "the previous version is " + std::to_string(version.size()) +
            " characters long; with this archive name the stub's setup command line holds at "
            "most " + std::to_string(longest) + ", even for an installer at a drive's root";
    return false;
  }
  return true;
}

namespace {

// The longest installer folder the stub works from, and what a longer one runs out of. The work
// directory is the folder and "LM_XXXXX.tmp\" (13 units); every file the stub writes there
// (the members by their names, "setup.exe" in every run) must fit its path buffer, and the setup
// command line, which names the work directory twice, its command buffer.
void JudgeFolder(const PreviousVersionFacts& previous_version, PayloadVerdict& v) {
  constexpr uint32_t kWorkDirectoryName = kShortestWorkDirectory - 3;  // beyond "C:\"
  uint32_t longest_name = sizeof(kSetupExeName.narrow) - 1;
  const char* longest_what = "\"setup.exe\"";
  if (v.archive_name.size() > longest_name) {
    longest_name = static_cast<uint32_t>(v.archive_name.size());
    longest_what = "the archive's name";
  }
  if (v.setup_type != PayloadType::kPlain && v.setup_name.size() > longest_name) {
    longest_name = static_cast<uint32_t>(v.setup_name.size());
    longest_what = "the setup program's name";
  }
  const uint32_t by_paths = kPathCapacity - 1 - kWorkDirectoryName - longest_name;
  // From the shortest work directory, the command line has this many units to spare; each unit
  // of folder takes two (the setup program's path and the archive's). Without a previous
  // version, its switch is not there either.
  const uint32_t version_room = LongestPreviousVersion(
      static_cast<uint32_t>(v.archive_name.size()), v.archive_type);
  const uint32_t spare =
      previous_version.present
          ? version_room - static_cast<uint32_t>(previous_version.text.size())
          : version_room + 6 + sizeof(kPreviousVersionSwitch.narrow) - 1;
  const uint32_t by_command = kShortestWorkDirectory - kWorkDirectoryName + spare / 2;
  if (by_command < by_paths) {
    v.longest_folder = by_command;
    v.folder_limit = "from a longer one the setup command line (with " +
                     (previous_version.present
                          ? "a previous version of " +
                                std::to_string(previous_version.text.size()) + " units"
                          : std::string("no previous version")) +
                     ") overflows the stub's " + std::to_string(kCommandCapacity) +
                     "-unit buffer, and the stub ends with " +
                     std::to_string(EXIT_COMMAND_LINE_TOO_LONG);
  } else {
    v.longest_folder = by_paths;
    v.folder_limit = "from a longer one the path of " + std::string(longest_what) + " (" +
                     std::to_string(longest_name) + " units) in the work directory overflows " +
                     "the stub's " + std::to_string(kPathCapacity) +
                     "-unit path buffer, and the stub ends with " +
                     std::to_string(EXIT_PATH_TOO_LONG);
  }
}

}  // namespace


PayloadVerdict RefusedDirectoryVerdict(const std::string& reason) {
  PayloadVerdict v;
  Judge(v).Exits(kMalformedDirectory.code, kMalformedDirectory.extra,
                 "the stub refuses its own resource directory: " + reason);
  return v;
}

PayloadVerdict JudgePayload(const std::vector<ScannedType>& types,
                            const PreviousVersionFacts& previous_version, const ResourceData& data,
                            bool read_members) {
  PayloadVerdict v;
  Judge judge(v);
  const PayloadEntry* archive = nullptr;
  const PayloadEntry* setup = nullptr;
  if (!Scan(types, v, judge, archive, setup)) return v;

  const PayloadOutcome scanned = JudgeScannedPayload(
      archive != nullptr, setup != nullptr, v.setup_type, v.archive_name.c_str(),
      v.setup_name.c_str());
  if (scanned.code != EXIT_OK) {
    std::string why;
    if (archive == nullptr) {
      why = "no archive (a name beginning with \"lumora\")";
    } else if (setup == nullptr) {
      why = "no setup program (a name beginning with \"setup\")";
    } else if (scanned.code == EXIT_ARCHIVE_UNPACK_FAILED) {
      why = "the archive's name " + QuotedName(v.archive_name) +
            " is not a plain file name (ASCII letters, digits, '.', '_', '-')";
    } else {
      why = "the setup program's name " + Shown(v.setup_name, v.setup_type) +
            " is not a plain file name, or names a patch \"setup.exe\"";
    }
    judge.Exits(scanned.code, scanned.extra, why);
    return v;
  }

  // Each member in turn: its path in the work directory, then its bytes as the loaded image
  // holds them.
  if (v.archive_name.size() > kLongestMemberName) {
    judge.Exits(EXIT_PATH_TOO_LONG, 0,
                "the archive's name is " + std::to_string(v.archive_name.size()) +
                    " units long: no work directory leaves room for it in a path");
    return v;
  }
  const Resource& archive_data = archive->resource;
  if (archive_data.loaded == MappedBytes::kUnmapped) {
    judge.Exits(EXIT_ARCHIVE_UNPACK_FAILED, kUnmappedWriteError,
                "the archive's data reaches beyond the image as the loader maps it");
    return v;
  }
  if (v.setup_type != PayloadType::kPlain && v.setup_name.size() > kLongestMemberName) {
    judge.Exits(EXIT_PATH_TOO_LONG, 0,
                "the setup program's name is " + std::to_string(v.setup_name.size()) +
                    " units long: no work directory leaves room for it in a path");
    return v;
  }
  const Resource& setup_data = setup->resource;
  if (setup_data.loaded == MappedBytes::kUnmapped) {
    judge.Exits(EXIT_SETUP_WRITE_FAILED, kUnmappedWriteError,
                "the setup program's data reaches beyond the image as the loader maps it");
    return v;
  }

  // A cabinet is expanded into "setup.exe" beside itself, whole, before anything starts.
  std::vector<uint8_t> expanded;
  if (v.setup_type == PayloadType::kCabinet) {
    // The shared rules' check of the cabinet comes before the cabinet library opens it.
    if (read_members) {
      v.cabinet_read = true;
      ReadCabinet(ResourceBytes(data, setup_data, NameText(v.setup_name)), v.cabinet);
      expanded.swap(v.cabinet.first_file);
      if (v.cabinet.malformed) {
        judge.Exits(kMalformedCabinet.code, kMalformedCabinet.extra,
                    "the stub refuses the setup cabinet: " + v.cabinet.failure);
        return v;
      }
    }
    if (IsSetupExeName(v.setup_name.c_str())) {
      judge.Exits(EXIT_SETUP_UNPACK_FAILED, 0,
                  "the cabinet setup program is named \"setup.exe\", the name it expands to");
      return v;
    }
    if (read_members) {
      if (!v.cabinet.expanded) {
        judge.Exits(EXIT_SETUP_UNPACK_FAILED, 0,
                    "the setup cabinet cannot be expanded: " + v.cabinet.failure);
        return v;
      }
    }
  }

  // Then the setup command line, before any program starts.
  if (previous_version.languages > 1) {
    judge.Depends("the machine's language",
                  "the previous version (RT_RCDATA 1) is " +
                      LanguagesText(previous_version.languages));
    return v;
  }
  if (previous_version.present) {
    if (!CanCarryPreviousVersion(previous_version.text.c_str())) {
      judge.Exits(EXIT_COMMAND_LINE_TOO_LONG, 0,
                  "the previous version " + Quoted(previous_version.text) +
                      " holds a double quote, a control character or a final backslash: the "
                      "setup command line cannot carry it intact");
      return v;
    }
    const uint32_t longest = LongestPreviousVersion(
        static_cast<uint32_t>(v.archive_name.size()), v.archive_type);
    if (previous_version.text.size() > longest) {
      judge.Exits(EXIT_COMMAND_LINE_TOO_LONG, 0,
                  "the previous version is " + std::to_string(previous_version.text.size()) +
                      " units long: the setup command line cannot hold it, even for an "
                      "installer at a drive's root");
      return v;
    }
  }

  JudgeFolder(previous_version, v);

  if (read_members) {
    v.archive_read = true;
    v.archive = ReadArchiveFacts(ResourceBytes(data, archive_data, NameText(v.archive_name)));
  }
  if (v.setup_type == PayloadType::kPacked) {
    v.notes.push_back("the setup program is a patch: the installed setup program applies it, "
                      "and only that run can judge it");
    if (!previous_version.present) {
      v.notes.push_back("a patch without a previous version: the stub applies it with whatever "
                        "setup program is installed");
    }
  } else if (read_members) {
    v.program_read = true;
    if (v.setup_type == PayloadType::kCabinet) {
      v.program = DescribeFile(MemorySource("setup.exe", expanded));
    } else {
      v.program = DescribeFile(ResourceBytes(data, setup_data, NameText(v.setup_name)));
    }
    if (!JudgeLaunch(v.program, v, judge)) return v;
    v.shipped_setup =
        v.setup_type == PayloadType::kCabinet
            ? IsShippedSetupProgram(MemorySource("setup.exe", expanded))
            : IsShippedSetupProgram(ResourceBytes(data, setup_data, NameText(v.setup_name)));
  }

  // The stub runs the setup program; what it hands over is not all the file's.
  if (v.accepted() && v.longest_folder < kOrdinaryFolderUnits) {
    judge.Depends(kDependsOnFolder, "the stub works only from an installer folder of at most " +
                                        std::to_string(v.longest_folder) +
                                        " characters, its final backslash included (\"C:\\\" "
                                        "is 3): " + v.folder_limit);
  } else if (v.shipped_setup && v.archive.SetupRefuses()) {
    // The setup program we ship judges the archive first thing, by the rules compiled in here,
    // and the stub passes its exit code on (with no error of its own).
    v.setup_refuses = true;
    judge.Exits(v.archive.setup_exit_code, 0,
                "the setup program (lumora-setup) refuses the archive: " +
                    SetupRefusalText(v.archive));
  } else if (archive_data.loaded == MappedBytes::kNotFromFile) {
    judge.Depends("what the setup program makes of a damaged archive",
                  "the archive's data reaches beyond its section's virtual size: the stub writes "
                  "zeros there in place of the file's bytes");
  } else if (setup_data.loaded == MappedBytes::kNotFromFile) {
    judge.Depends("what the damaged setup program does",
                  "the setup program's data reaches beyond its section's virtual size: the stub "
                  "writes zeros there in place of the file's bytes");
  }
  return v;
}
