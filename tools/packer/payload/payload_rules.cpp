#include "payload_rules.h"

#include <cstring>

#include "base/exit_result.h"
#include "payload/member_name.h"

namespace {

constexpr uint32_t kExitCommandLineTooLong = EXIT_COMMAND_LINE_TOO_LONG;
constexpr uint32_t kExitPathTooLong = EXIT_PATH_TOO_LONG;
constexpr uint32_t kExitArchiveUnpackFailed = EXIT_ARCHIVE_UNPACK_FAILED;
constexpr uint32_t kExitSetupUnpackFailed = EXIT_SETUP_UNPACK_FAILED;
constexpr uint32_t kExitSetupWriteFailed = EXIT_SETUP_WRITE_FAILED;
constexpr uint32_t kErrorFileNotFound = kPayloadErrorMemberMissing;
constexpr uint32_t kErrorInvalidData = kPayloadErrorUnknownName;
constexpr uint32_t kErrorTooManyNames = kPayloadErrorSecondMember;
constexpr uint32_t kErrorInvalidName = kPayloadErrorNotAFileName;
constexpr uint32_t kErrorFilenameExcedRange = kPayloadErrorNameTooLong;
// What writing a resource whose data is not mapped fails with: its pointer leads outside the
// loaded image, and WriteFile refuses the buffer (ERROR_INVALID_USER_BUFFER, as seen under Wine).
constexpr uint32_t kErrorInvalidUserBuffer = 1784;

const Member kArchiveMember = Member::kArchive;
const Member kSetupMember = Member::kSetup;

// How the stub stores a member of a given type, in the terms of the shared name rule.
NamedMember NamedMemberOf(Member member, const std::string& type) {
  if (member == Member::kArchive) return NamedMember::kArchive;
  if (type == "B7") return NamedMember::kSetupPatch;
  if (type == "BL") return NamedMember::kSetupCabinet;
  return NamedMember::kSetupPlain;
}

const char* MemberWord(Member member) {
  return member == Member::kArchive ? "archive" : "setup program";
}

char16_t FoldAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c; }

// The stub's prefix test: only A to Z fold to a to z.
bool BeginsWithAsciiFolded(const std::u16string& text, const char* prefix) {
  const size_t n = std::strlen(prefix);
  if (text.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (FoldAscii(text[i]) != FoldAscii(static_cast<char16_t>(prefix[i]))) return false;
  }
  return true;
}

}  // namespace

bool IsPayloadType(const std::u16string& type) {
  for (const auto* t : kPayloadTypeOrder) {
    if (type == std::u16string(t->narrow, t->narrow + 2)) return true;
  }
  return false;
}

bool CheckPayloadType(const std::string& type, const char* what, std::string& error) {
  if (IsPayloadType(std::u16string(type.begin(), type.end()))) return true;
  error = std::string("the ") + what + " type must be B7, BL or BN, not \"" + type + "\"";
  return false;
}

const Member* MemberOfName(const std::u16string& name) {
  if (BeginsWithAsciiFolded(name, kArchivePrefix.narrow)) return &kArchiveMember;
  if (BeginsWithAsciiFolded(name, kSetupPrefix.narrow)) return &kSetupMember;
  return nullptr;
}

std::u16string AsciiUpper(std::u16string text) {
  for (char16_t& c : text) {
    if (c >= u'a' && c <= u'z') c -= u'a' - u'A';
  }
  return text;
}

std::string StorageText(Member member, const std::string& type) {
  if (member == Member::kArchive) {
    return type == "B7" ? "packed archive (--install-archive)"
                        : "archive handed on unchanged (--uncompressed-archive)";
  }
  if (type == "B7") return "patch for the installed setup program";
  if (type == "BL") return "cabinet, expanded to setup.exe";
  return "uncompressed, written as setup.exe";
}

bool MakeMemberName(const std::string& name, Member member, const std::string& type,
                    std::u16string& stored, std::string& error) {
  const std::string quoted = "\"" + name + "\"";
  const std::string what = std::string("the ") + MemberWord(member) + "'s name " + quoted;
  const char* prefix = member == Member::kArchive ? kArchivePrefix.narrow : kSetupPrefix.narrow;
  stored = AsciiUpper(std::u16string(name.begin(), name.end()));
  // Every name the packer writes is a plain file name, even one the stub never writes under (an
  // uncompressed setup program's): Windows upper-cases a name with its own tables before looking
  // it up, and only for ASCII are those certain to agree with the name as stored.
  if (!IsPlainFileName(stored.c_str())) {
    error = what + " may hold only ASCII letters, digits, '.', '_' and '-', without \"..\" and " +
            "not ending in a dot: it becomes a file name in the stub's work directory";
    return false;
  }
  const Member* found = MemberOfName(stored);
  if (found == nullptr || *found != member) {
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
  if (!IsUsableMemberName(NamedMemberOf(member, type), stored.c_str())) {
    error = "a patch setup program (B7) cannot be named \"setup.exe\": the installed setup "
            "program writes the new setup.exe beside it";
    return false;
  }
  if (member == Member::kSetup && IsCabinetNamedSetupExe(type, stored)) {
    error = "a cabinet setup program (BL) cannot be named \"setup.exe\": the stub expands it "
            "into a file of that name beside it";
    return false;
  }
  return true;
}

bool IsCabinetNamedSetupExe(const std::string& setup_type, const std::u16string& name) {
  return setup_type == "BL" && IsSetupExeName(name.c_str());
}

bool IsPreviousVersion(const Resource& resource) {
  return HasId(resource.type, kRtRcdata) && HasId(resource.name, kPreviousVersionId);
}

size_t LongestPreviousVersion(size_t archive_name_units, const std::string& archive_type) {
  // The fixed part of the setup command line as the stub assembles it, the version aside:
  // "<dir>setup.exe" --install-archive="<dir><archive>" --previous-version="<version>"
  const std::string fixed = std::string("\"setup.exe\" --") +
                            (archive_type == "B7" ? "install-archive" : "uncompressed-archive") +
                            "=\"\" --previous-version=\"\"";
  const size_t used = fixed.size() + 2 * kShortestWorkDirectory + archive_name_units;
  return used < kCommandCapacity - 1 ? kCommandCapacity - 1 - used : 0;
}

bool CheckPreviousVersion(const std::u16string& version, size_t archive_name_units,
                          const std::string& archive_type, std::string& error) {
  // The stub puts the version between double quotes on the setup program's command line and
  // escapes nothing: a quote inside it ends the argument, and a backslash before the closing
  // quote escapes that quote, so that the switches after it run into the version's argument.
  for (char16_t c : version) {
    if (c < 0x20 || c == u'"') {
      error = "the previous version may not hold double quotes or control characters";
      return false;
    }
  }
  if (!version.empty() && version.back() == u'\\') {
    error = "the previous version may not end in a backslash: on the setup program's command "
            "line it would escape the closing quote";
    return false;
  }
  const size_t longest = LongestPreviousVersion(archive_name_units, archive_type);
  if (version.size() > longest) {
    error = "the previous version is " + std::to_string(version.size()) +
            " characters long; with this archive name the stub's setup command line holds at "
            "most " + std::to_string(longest) + ", even for an installer at a drive's root";
    return false;
  }
  return true;
}

PayloadVerdict ClassifyPayload(const std::vector<PayloadType>& types,
                               const std::u16string* previous_version) {
  PayloadVerdict v;
  bool have_archive = false, have_setup = false;
  const PayloadEntry* archive = nullptr;
  const PayloadEntry* setup = nullptr;
  auto fail = [&](uint32_t error, std::string reason) {
    v.code = v.archive_type.empty() ? kExitArchiveUnpackFailed : kExitSetupUnpackFailed;
    v.extra = error;
    v.reason = std::move(reason);
    return v;
  };
  auto fail_with = [&](uint32_t code, uint32_t error, std::string reason) {
    v.code = code;
    v.extra = error;
    v.reason = std::move(reason);
    return v;
  };
  for (const auto* order : kPayloadTypeOrder) {
    const char* const type = order->narrow;
    const PayloadType* listed = nullptr;
    for (const PayloadType& t : types) {
      if (t.type == type) listed = &t;
    }
    if (listed != nullptr) {
      for (const PayloadEntry& e : listed->entries) {
        const Resource& r = e.resource;
        // The stub's enumeration ends a type quietly at an identifier, at a name it cannot find
        // again, and at an empty resource.
        if (!r.name.named || !e.findable || r.size == 0) break;
        // The enumeration hands the stub the name as a terminated string, cut at a zero unit.
        const std::u16string name = TerminatedName(r.name);
        const std::string shown = "\"" + NameText(name) + "\" in " + type;
        const Member* member = MemberOfName(name);
        if (member == nullptr) {
          return fail(kErrorInvalidData,
                      "resource " + shown + " begins with neither \"lumora\" nor \"setup\"");
        }
        bool& have = *member == Member::kArchive ? have_archive : have_setup;
        if (have) {
          return fail(kErrorTooManyNames, "a second " + std::string(MemberWord(*member)) + ", " + shown);
        }
        if (name.size() >= kNameCapacity) {
          return fail(kErrorFilenameExcedRange, "resource name " + shown + " is " +
                                                    std::to_string(name.size()) +
                                                    " units long (at most 259)");
        }
        have = true;
        (*member == Member::kArchive ? v.archive_name : v.setup_name) = name;
        (*member == Member::kArchive ? archive : setup) = &e;
      }
    }
    if (have_archive && v.archive_type.empty()) v.archive_type = type;
    if (have_setup && v.setup_type.empty()) v.setup_type = type;
  }
  if (!have_archive) {
    return fail(kErrorFileNotFound, "no archive (a name beginning with \"lumora\")");
  }
  if (!have_setup) {
    return fail(kErrorFileNotFound, "no setup program (a name beginning with \"setup\")");
  }
  // Both names become file names in the work directory before anything is written.
  if (!IsUsableMemberName(NamedMember::kArchive, v.archive_name.c_str())) {
    return fail_with(kExitArchiveUnpackFailed, kErrorInvalidName,
                     "the archive's name \"" + NameText(v.archive_name) +
                         "\" is not a plain file name (ASCII letters, digits, '.', '_', '-')");
  }
  if (!IsUsableMemberName(NamedMemberOf(Member::kSetup, v.setup_type), v.setup_name.c_str())) {
    return fail_with(kExitSetupUnpackFailed, kErrorInvalidName,
                     "the setup program's name \"" + NameText(v.setup_name) + "\" in " +
                         v.setup_type + " is not a plain file name, or names a patch \"setup.exe\"");
  }
  // Then each member in turn: its path in the work directory, then its bytes.
  if (v.archive_name.size() > kLongestMemberName) {
    return fail_with(kExitPathTooLong, 0,
                     "the archive's name is " + std::to_string(v.archive_name.size()) +
                         " units long: no work directory leaves room for it in a path");
  }
  if (!archive->resource.mapped) {
    return fail_with(kExitArchiveUnpackFailed, kErrorInvalidUserBuffer,
                     "the archive's data does not lie within the file's section data");
  }
  if (v.setup_type != "BN" && v.setup_name.size() > kLongestMemberName) {
    return fail_with(kExitPathTooLong, 0,
                     "the setup program's name is " + std::to_string(v.setup_name.size()) +
                         " units long: no work directory leaves room for it in a path");
  }
  if (!setup->resource.mapped) {
    return fail_with(kExitSetupWriteFailed, kErrorInvalidUserBuffer,
                     "the setup program's data does not lie within the file's section data");
  }
  // Expanding the cabinet fails with no error detail.
  if (IsCabinetNamedSetupExe(v.setup_type, v.setup_name)) {
    return fail_with(kExitSetupUnpackFailed, 0,
                     "the cabinet setup program is named \"setup.exe\", the name it expands to");
  }
  if (v.setup_type == "BL" && !setup->cabinet_magic) {
    return fail_with(kExitSetupUnpackFailed, 0,
                     "the setup program in BL is not a cabinet (no \"MSCF\" signature)");
  }
  if (previous_version != nullptr &&
      previous_version->size() > LongestPreviousVersion(v.archive_name.size(), v.archive_type)) {
    return fail_with(kExitCommandLineTooLong, 0,
                     "the previous version is " + std::to_string(previous_version->size()) +
                         " units long: the setup command line cannot hold it, even for an "
                         "installer at a drive's root");
  }
  return v;
}
