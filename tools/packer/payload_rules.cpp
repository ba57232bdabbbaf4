#include "payload_rules.h"

#include <cstring>

#include "resource_listing.h"

namespace {

constexpr uint32_t kExitArchiveUnpackFailed = 112;
constexpr uint32_t kExitSetupUnpackFailed = 115;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorInvalidData = 13;
constexpr uint32_t kErrorTooManyNames = 68;
constexpr uint32_t kErrorFilenameExcedRange = 206;

const Member kArchiveMember = Member::kArchive;
const Member kSetupMember = Member::kSetup;

const char* MemberWord(Member member) {
  return member == Member::kArchive ? "archive" : "setup program";
}

char16_t FoldAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c; }

}  // namespace

bool IsPayloadType(const std::u16string& type) {
  for (const char* t : kPayloadTypes) {
    if (type == std::u16string(t, t + 2)) return true;
  }
  return false;
}

bool StartsWithNoCase(const std::u16string& text, const char* prefix) {
  const size_t n = std::strlen(prefix);
  if (text.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (FoldAscii(text[i]) != FoldAscii(static_cast<char16_t>(prefix[i]))) return false;
  }
  return true;
}

const Member* MemberOfName(const std::u16string& name) {
  if (StartsWithNoCase(name, "lumora")) return &kArchiveMember;
  if (StartsWithNoCase(name, "setup")) return &kSetupMember;
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
  const char* prefix = member == Member::kArchive ? "lumora" : "setup";
  for (unsigned char c : name) {
    // The name becomes a file name in the work directory, and Windows upper-cases a name with
    // its own tables before looking it up; printable ASCII is the range where both are certain.
    if (c < 0x20 || c > 0x7E || std::strchr("<>:\"/\\|?*", c) != nullptr) {
      error = "the " + std::string(MemberWord(member)) + "'s name " + quoted +
              " may hold only printable ASCII characters that Windows allows in file names";
      return false;
    }
  }
  stored = AsciiUpper(std::u16string(name.begin(), name.end()));
  const Member* found = MemberOfName(stored);
  if (found == nullptr || *found != member) {
    error = "the " + std::string(MemberWord(member)) + "'s name " + quoted +
            " must begin with \"" + prefix + "\": the stub tells the archive by the prefix " +
            "\"lumora\" and the setup program by \"setup\", at the start of the name";
    return false;
  }
  if (stored.size() >= kNameCapacity) {
    error = "the " + std::string(MemberWord(member)) + "'s name is " +
            std::to_string(stored.size()) + " characters long; the stub takes names of at most " +
            std::to_string(kNameCapacity - 1);
    return false;
  }
  // The stub expands a "BL" cabinet into "setup.exe" beside the cabinet file itself; a cabinet
  // with that very name would have to be overwritten while it is being read.
  if (member == Member::kSetup && type == "BL" && stored == u"SETUP.EXE") {
    error = "a cabinet setup program (BL) cannot be named \"setup.exe\": the stub expands it "
            "into a file of that name beside it";
    return false;
  }
  return true;
}

PayloadVerdict ClassifyPayload(const std::vector<PayloadType>& types) {
  PayloadVerdict v;
  bool have_archive = false, have_setup = false;
  auto fail = [&](uint32_t error, std::string reason) {
    v.code = v.archive_type.empty() ? kExitArchiveUnpackFailed : kExitSetupUnpackFailed;
    v.extra = error;
    v.reason = std::move(reason);
    return v;
  };
  for (const char* type : kPayloadTypes) {
    const PayloadType* listed = nullptr;
    for (const PayloadType& t : types) {
      if (t.type == type) listed = &t;
    }
    if (listed != nullptr) {
      for (const PayloadEntry& e : listed->entries) {
        // The stub's enumeration ends a type quietly at an identifier, at a name it cannot find
        // again, and at an empty resource.
        if (!e.named || !e.findable || e.size == 0) break;
        const std::string shown = "\"" + Utf16ToUtf8(e.name) + "\" in " + type;
        const Member* member = MemberOfName(e.name);
        if (member == nullptr) {
          return fail(kErrorInvalidData,
                      "resource " + shown + " begins with neither \"lumora\" nor \"setup\"");
        }
        bool& have = *member == Member::kArchive ? have_archive : have_setup;
        if (have) {
          return fail(kErrorTooManyNames, "a second " + std::string(MemberWord(*member)) + ", " + shown);
        }
        if (e.name.size() >= kNameCapacity) {
          return fail(kErrorFilenameExcedRange, "resource name " + shown + " is " +
                                                    std::to_string(e.name.size()) +
                                                    " units long (at most 259)");
        }
        have = true;
        (*member == Member::kArchive ? v.archive_name : v.setup_name) = e.name;
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
  if (v.setup_type == "BL") {
    // Expanding the cabinet fails with no error detail.
    bool magic = false;
    for (const PayloadType& t : types) {
      if (t.type != "BL") continue;
      for (const PayloadEntry& e : t.entries) {
        if (e.named && e.name == v.setup_name) magic = e.cabinet_magic;
      }
    }
    if (AsciiUpper(v.setup_name) == u"SETUP.EXE") {
      v.code = kExitSetupUnpackFailed;
      v.reason = "the cabinet setup program is named \"setup.exe\", the name it expands to";
    } else if (!magic) {
      v.code = kExitSetupUnpackFailed;
      v.reason = "the setup program in BL is not a cabinet (no \"MSCF\" signature)";
    }
  }
  return v;
}

bool Utf8ToUtf16(const std::string& text, std::u16string& out) {
  out.clear();
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = text[i];
    uint32_t code = 0;
    size_t more = 0;
    if (c < 0x80) {
      code = c;
    } else if ((c & 0xE0) == 0xC0) {
      code = c & 0x1F, more = 1;
    } else if ((c & 0xF0) == 0xE0) {
      code = c & 0x0F, more = 2;
    } else if ((c & 0xF8) == 0xF0) {
      code = c & 0x07, more = 3;
    } else {
      return false;
    }
    if (i + more >= text.size()) return false;
    for (size_t k = 1; k <= more; ++k) {
      const unsigned char d = text[i + k];
      if ((d & 0xC0) != 0x80) return false;
      code = (code << 6) | (d & 0x3F);
    }
    static const uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (code < kMinimum[more] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) {
      return false;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (code >> 10));
      out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      out += static_cast<char16_t>(code);
    }
    i += more + 1;
  }
  return true;
}
