// What the stub accepts as its payload, stated once for packing and checking alike. The stub
// scans the resource types "B7", "BL" and "BN" in that order, names in directory order; a name
// beginning with "lumora" is the archive, one beginning with "setup" the setup program (ASCII
// case-insensitive); there must be exactly one of each, each name shorter than 260 UTF-16 units
// and safe as a file name in the work directory. The type says how the member is stored. Then
// the stub composes paths and the setup program's command line in fixed buffers: what cannot fit
// them even from the shortest directory an installer can run from fails on every machine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "payload/payload_resources.h"
#include "resource.h"

constexpr size_t kNameCapacity = 260;  // the stub's name buffer, terminator included
// The stub's path buffers and its command-line buffer, terminator included.
constexpr size_t kPathCapacity = 260;
constexpr size_t kCommandCapacity = 1040;
// The shortest work directory there is: "LM_", five digits, ".tmp" and a backslash beside an
// installer at the root of a drive, "C:\".
constexpr size_t kShortestWorkDirectory = 16;
// The longest member name that fits a path beside the shortest work directory.
constexpr size_t kLongestMemberName = kPathCapacity - 1 - kShortestWorkDirectory;
constexpr uint16_t kPayloadLanguage = kEnglishUsLanguage;
constexpr uint16_t kRtRcdata = kPreviousVersionType;

enum class Member { kArchive, kSetup };

bool IsPayloadType(const std::u16string& type);
// Checks a type the packer is asked to store a member in; what names the member ("archive",
// "setup program") goes into the message.
bool CheckPayloadType(const std::string& type, const char* what, std::string& error);
// The stub's reading of a name: the archive, the setup program, or neither (nullptr result).
const Member* MemberOfName(const std::u16string& name);
std::u16string AsciiUpper(std::u16string text);

// How a member of a given type is stored, in words for people.
std::string StorageText(Member member, const std::string& type);

// The stub expands a "BL" cabinet into "setup.exe" beside the cabinet file itself; a cabinet
// with that very name would have to be overwritten while it is being read.
bool IsCabinetNamedSetupExe(const std::string& setup_type, const std::u16string& name);

// Checks a name the packer is asked to give a member, and returns it as stored: upper-case, as
// resource compilers store names and as Windows looks them up. False with the reason in error
// when the stub would not accept it or could never write it.
bool MakeMemberName(const std::string& name, Member member, const std::string& type,
                    std::u16string& stored, std::string& error);

// RT_RCDATA 1, in any language: the version an update replaces.
bool IsPreviousVersion(const Resource& resource);
// The longest previous version for which the stub's setup command line fits its buffer when the
// installer runs from a drive's root, the shortest directory there is; a longer one never fits.
size_t LongestPreviousVersion(size_t archive_name_units, const std::string& archive_type);
// Checks a previous version the packer is asked to store: it must fit the setup command line and
// keep its quoting intact there. False with the reason in error.
bool CheckPreviousVersion(const std::u16string& version, size_t archive_name_units,
                          const std::string& archive_type, std::string& error);

// One resource under a payload type as the stub's enumeration meets it: the resource, whether
// FindResourceW finds it again by the name the enumeration gave, and whether its data begins
// with a cabinet's signature.
struct PayloadEntry {
  Resource resource;
  bool findable = true;
  bool cabinet_magic = false;
};

struct PayloadType {
  std::string type;  // "B7", "BL" or "BN"
  std::vector<PayloadEntry> entries;  // in directory order
};

// What the stub makes of its payload: exit code 0 when it would go on to run the setup program,
// else the exit code and error it would end with, and why.
struct PayloadVerdict {
  uint32_t code = 0;
  uint32_t extra = 0;
  std::string reason;
  std::string archive_type, setup_type;
  std::u16string archive_name, setup_name;
  bool accepted() const { return code == 0; }
};

// previous_version: the version the stub would read (up to its terminator), or null for none.
PayloadVerdict ClassifyPayload(const std::vector<PayloadType>& types,
                               const std::u16string* previous_version = nullptr);
