// What the stub makes of a payload, judged by the rules the stub itself compiles
// (lumora/payload_rules.h) in the order the stub applies them, and carried on to what the stub
// does next with what it wrote: the cabinet its expansion reads whole, the setup program it
// starts, the command line that carries the previous version. The verdict is one of three: the
// stub goes on to run the setup program; the stub ends the run itself, with an exit code and its
// extra that the verdict names; or what happens depends on something outside the installer (the
// machine's language, its processor), which the verdict names instead.
//
// Names given to pack are checked here too, and the payload types are an enumeration from the
// command line on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cabinet/cabinet_reader.h"
#include "payload/archive_facts.h"
#include "lumora/payload_rules.h"
#include "pe/program_image.h"
#include "resources/resource.h"

constexpr uint16_t kPayloadLanguage = kEnglishUsLanguage;
constexpr uint16_t kRtRcdata = kPreviousVersionType;

// The stub makes its work directory beside the installer, so that every path it writes and its
// setup command line grow with the installer's folder. An installer that works only from a
// folder shorter than this (in UTF-16 units, its final backslash included) is not accepted
// outright: its verdict depends on the folder, and names the longest that works. An ordinary
// download folder, "C:\Users\<name>\Downloads\" and a folder or two below it, stays within it.
constexpr uint32_t kOrdinaryFolderUnits = 100;
// What a folder-bound verdict's depends_on says.
constexpr char kDependsOnFolder[] = "the installer's folder";

// "B7", "BL", "BN": exactly these, as the stub compares types.
std::string PayloadTypeText(PayloadType type);
bool ParsePayloadType(const std::u16string& name, PayloadType& type);
// A type the packer is asked to store a member in; what names the member ("archive", "setup
// program") goes into the message.
bool CheckPayloadType(const std::string& text, const char* what, PayloadType& type,
                      std::string& error);

// The stub's reading of a name: the archive, the setup program, or neither (false).
bool MemberOfName(const std::u16string& name, PayloadMember& member);
std::u16string AsciiUpper(std::u16string text);
// How a member of a given type is stored, in words for people.
std::string StorageText(PayloadMember member, PayloadType type);

// Checks a name the packer is asked to give a member, and returns it as stored: upper-case, as
// resource compilers store names and as Windows looks them up. False with the reason in error
// when the stub would not accept it or could never write it.
bool MakeMemberName(const std::string& name, PayloadMember member, PayloadType type,
                    std::u16string& stored, std::string& error);

// RT_RCDATA 1, in any language: the version an update replaces.
bool IsPreviousVersion(const Resource& resource);
// Checks a previous version the packer is asked to store: the setup command line must carry it
// intact and hold it. False with the reason in error.
bool CheckPreviousVersion(const std::u16string& version, size_t archive_name_units,
                          PayloadType archive_type, std::string& error);

// Reads bytes of a resource's data as the stub's own image finds them once loaded (for an
// installer read back from disk: the file's bytes, or zeros beyond a section's virtual size), or
// from what pack will write.
class ResourceData {
 public:
  virtual bool Read(const Resource& resource, uint64_t offset, uint8_t* out, size_t size,
                    std::string& error) const = 0;

 protected:
  ~ResourceData() = default;
};

// One name under a payload type as the stub's enumeration meets it: its first language's
// resource, how many languages the name has, and whether FindResourceW finds it again by the
// name the enumeration gave.
struct PayloadEntry {
  Resource resource;
  uint32_t languages = 1;
  bool findable = true;
};

struct ScannedType {
  PayloadType type = PayloadType::kPacked;
  std::vector<PayloadEntry> entries;  // in directory order
};

// The previous version as the stub reads it: present when RT_RCDATA 1 is a terminated UTF-16
// string (else the stub ignores it); languages counts the resource's languages.
struct PreviousVersionFacts {
  bool present = false;
  std::u16string text;
  uint32_t languages = 0;
};

struct PayloadVerdict {
  enum class Outcome : uint8_t { kSetupRuns, kStubExits, kDepends };
  Outcome outcome = Outcome::kSetupRuns;
  // For kStubExits: the code the stub exits with and the extra it records.
  uint32_t code = 0;
  uint32_t extra = 0;
  // Why the stub does not run the setup program; for kDepends, also what decides it.
  std::string reason;
  std::string depends_on;
  // What the stub found, as far as it got.
  bool archive_found = false, setup_found = false;
  PayloadType archive_type = PayloadType::kPacked, setup_type = PayloadType::kPacked;
  std::u16string archive_name, setup_name;
  // The setup cabinet as the stub's expansion reads it ("BL"), and the setup program the stub
  // would start ("BN", or what the cabinet expands to).
  bool cabinet_read = false;
  CabinetFacts cabinet;  // without the expanded bytes
  bool program_read = false;
  ProgramFacts program;
  // The archive as the setup program we ship reads it, and whether the setup program is that one
  // (then a refusal of the archive is the run's outcome: setup_refuses, with its exit code).
  bool archive_read = false;
  ArchiveFacts archive;
  bool shipped_setup = false;
  bool setup_refuses = false;
  // True but no reason to refuse: a patch that only the installed setup program can judge, DLLs
  // the setup program imports that Windows does not carry.
  std::vector<std::string> notes;
  // For a verdict that got as far as the setup command line: the longest installer folder the
  // stub works from (UTF-16 units, its final backslash included: "C:\" is 3), and what a longer
  // one runs out of. 0 where the verdict did not get that far.
  uint32_t longest_folder = 0;
  std::string folder_limit;

  bool accepted() const { return outcome == Outcome::kSetupRuns; }
  // Refused only because the installer works from short folders alone.
  bool FolderBound() const {
    return outcome == Outcome::kDepends && depends_on == kDependsOnFolder;
  }
};

// What a setup program needs that the stub does not extract: the DLLs it imports that Windows
// does not carry, named (escaped: the names come from the file). Empty when there are none.
std::string ForeignImportsNote(const ProgramFacts& program);

// The stub ends the run before its scan: the shared rules refuse its resource directory, for the
// reason given.
PayloadVerdict RefusedDirectoryVerdict(const std::string& reason);

// data reads the members' bytes. read_members: also expand a "BL" cabinet and read the setup
// program as a program; pack's check of the directory it is about to write leaves that to the
// read-back of the written installer.
PayloadVerdict JudgePayload(const std::vector<ScannedType>& types,
                            const PreviousVersionFacts& previous_version, const ResourceData& data,
                            bool read_members = true);
