#include "files/work_directory.h"

#include <ntsecapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <deque>
#include <iostream>
#include <string>
#include <vector>

#include "files/work_directory_calls.h"
#include "support/heap_blocks.h"
#include "support/import_redirect.h"
#include "support/scratch_directory.h"

namespace {

std::wstring SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return L"<unconvertible>";
  std::wstring result(text);
  LocalFree(text);
  return result;
}

std::wstring WellKnownSid(WELL_KNOWN_SID_TYPE type) {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof(sid);
  if (!CreateWellKnownSid(type, nullptr, sid, &size)) return L"<unknown>";
  return SidText(sid);
}

// One entry of an access list, as the platform parses it out of a descriptor.
struct Entry {
  BYTE type;
  BYTE flags;
  ACCESS_MASK mask;
  std::wstring sid;
  bool operator==(const Entry& other) const {
    return type == other.type && flags == other.flags && mask == other.mask && sid == other.sid;
  }
};

void PrintTo(const Entry& entry, std::ostream* out) {
  *out << "{type " << int(entry.type) << ", flags " << int(entry.flags) << ", mask 0x" << std::hex
       << entry.mask << std::dec << ", " << std::string(entry.sid.begin(), entry.sid.end()) << "}";
}

std::vector<Entry> EntriesOf(PSECURITY_DESCRIPTOR descriptor) {
  std::vector<Entry> entries;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present ||
      dacl == nullptr) {
    return entries;
  }
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* found = nullptr;
    if (!GetAce(dacl, i, &found)) break;
    const auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(found);
    entries.push_back({ace->Header.AceType, ace->Header.AceFlags, ace->Mask,
                       SidText(const_cast<DWORD*>(&ace->SidStart))});
  }
  return entries;
}

// What the work directory grants: the administrators, the system account and the given owner on
// the directory itself; the administrators, the system account and each item's creator on
// whatever is created inside. Nobody else.
std::vector<Entry> ListedEntries(const std::wstring& owner) {
  constexpr BYTE kAllowed = ACCESS_ALLOWED_ACE_TYPE;
  constexpr BYTE kInside = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE;
  const std::wstring admins = WellKnownSid(WinBuiltinAdministratorsSid);
  const std::wstring system = WellKnownSid(WinLocalSystemSid);
  const std::wstring creator = WellKnownSid(WinCreatorOwnerSid);
  return {
      {kAllowed, 0, FILE_ALL_ACCESS, admins},        {kAllowed, kInside, GENERIC_ALL, admins},
      {kAllowed, 0, FILE_ALL_ACCESS, system},        {kAllowed, kInside, GENERIC_ALL, system},
      {kAllowed, kInside, GENERIC_ALL, creator},     {kAllowed, 0, FILE_ALL_ACCESS, owner},
  };
}

std::wstring TokenOwnerSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return L"<no token>";
  BYTE buffer[512];
  DWORD size = 0;
  std::wstring result = L"<no owner>";
  wchar_t* text = nullptr;
  if (GetTokenInformation(token, TokenOwner, buffer, sizeof(buffer), &size) &&
      ConvertSidToStringSidW(reinterpret_cast<TOKEN_OWNER*>(buffer)->Owner, &text)) {
    result = text;
    LocalFree(text);
  }
  CloseHandle(token);
  return result;
}

struct Creation {
  std::wstring path;
  bool with_attributes = false;
  DWORD length = 0;
  BOOL inherit = TRUE;
  void* descriptor = nullptr;
  std::vector<Entry> entries;  // the descriptor's access list as it was at the call
  bool names_an_owner = false;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  bool descriptor_allocated = false;  // at the call
};

enum class Volume { kReal, kAccessLists, kNoAccessLists, kPathFails, kInformationFails };

// What another process puts in place of the first new directory before it is held.
enum class Swap { kNone, kFile, kLink };

// Records every call of the seam and forwards it to the platform unless told otherwise.
struct Recorder {
  std::deque<std::vector<uint8_t>> random_bytes;  // empty: the real source
  int draws = 0;
  bool fail_creation = false;
  std::vector<Creation> creations;
  Volume volume = Volume::kReal;
  int volume_path_queries = 0;
  int volume_information_queries = 0;
  DWORD token_open_error = 0;
  int token_opens = 0;
  std::vector<TOKEN_INFORMATION_CLASS> token_classes;
  DWORD first_token_query_error = 0;
  DWORD second_token_query_error = 0;
  std::vector<BYTE> owner_record;  // non-empty: served instead of the token's
  void* owner_buffer = nullptr;    // where the run had the owner record written
  DWORD conversion_error = 0;
  int conversions = 0;
  bool owner_buffer_allocated_at_conversion = false;
  Swap swap = Swap::kNone;
  std::wstring link_target;
  bool swapped = false;
  bool failed = false;  // a token or conversion call was made to fail
  int releases_after_failure = 0;
};
Recorder* g_recorder = nullptr;

BOOLEAN WINAPI Random(PVOID buffer, ULONG size) {
  ++g_recorder->draws;
  if (g_recorder->random_bytes.empty()) return SystemFunction036(buffer, size);
  std::vector<uint8_t> bytes = g_recorder->random_bytes.front();
  g_recorder->random_bytes.pop_front();
  memcpy(buffer, bytes.data(), size < bytes.size() ? size : bytes.size());
  return TRUE;
}

BOOL WINAPI CreateDirectoryRecorded(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes) {
  Creation creation;
  creation.path = path;
  if (attributes != nullptr) {
    creation.with_attributes = true;
    creation.length = attributes->nLength;
    creation.inherit = attributes->bInheritHandle;
    creation.descriptor = attributes->lpSecurityDescriptor;
    if (creation.descriptor != nullptr) {
      creation.descriptor_allocated = IsAllocated(creation.descriptor);
      creation.entries = EntriesOf(creation.descriptor);
      PSID owner = nullptr;
      BOOL defaulted = FALSE;
      creation.names_an_owner =
          GetSecurityDescriptorOwner(creation.descriptor, &owner, &defaulted) && owner != nullptr;
      DWORD revision = 0;
      GetSecurityDescriptorControl(creation.descriptor, &creation.control, &revision);
    }
  }
  g_recorder->creations.push_back(creation);
  if (g_recorder->fail_creation) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  // Wine keeps no access lists on its files; the descriptor is what matters, and it was read above.
  if (!CreateDirectoryW(path, attributes)) return FALSE;
  if (g_recorder->creations.size() == 1 && g_recorder->swap != Swap::kNone) {
    RemoveDirectoryW(path);
    if (g_recorder->swap == Swap::kFile) {
      g_recorder->swapped = ScratchDirectory::WriteFile(path);
    } else {
      g_recorder->swapped = CreateSymbolicLinkW(path, g_recorder->link_target.c_str(),
                                                SYMBOLIC_LINK_FLAG_DIRECTORY) != FALSE;
    }
  }
  return TRUE;
}

BOOL WINAPI VolumePath(LPCWSTR path, LPWSTR root, DWORD size) {
  ++g_recorder->volume_path_queries;
  if (g_recorder->volume == Volume::kPathFails) {
    SetLastError(ERROR_INVALID_NAME);
    return FALSE;
  }
  return GetVolumePathNameW(path, root, size);
}

BOOL WINAPI VolumeInformation(LPCWSTR root, LPWSTR name, DWORD name_size, LPDWORD serial,
                              LPDWORD component, LPDWORD flags, LPWSTR system, DWORD system_size) {
  ++g_recorder->volume_information_queries;
  if (g_recorder->volume == Volume::kInformationFails) {
    SetLastError(ERROR_NOT_READY);
    return FALSE;
  }
  BOOL ok = GetVolumeInformationW(root, name, name_size, serial, component, flags, system,
                                  system_size);
  if (g_recorder->volume == Volume::kAccessLists) {
    *flags |= FILE_PERSISTENT_ACLS;
    return TRUE;
  }
  if (g_recorder->volume == Volume::kNoAccessLists) {
    *flags &= ~static_cast<DWORD>(FILE_PERSISTENT_ACLS);
    return TRUE;
  }
  return ok;
}

BOOL WINAPI OpenToken(HANDLE process, DWORD access, PHANDLE token) {
  ++g_recorder->token_opens;
  if (access != TOKEN_QUERY) {
    SetLastError(ERROR_INVALID_ACCESS);
    return FALSE;
  }
  if (g_recorder->token_open_error != 0) {
    SetLastError(g_recorder->token_open_error);
    return FALSE;
  }
  return OpenProcessToken(process, access, token);
}

BOOL WINAPI TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID buffer, DWORD size,
                             PDWORD needed) {
  g_recorder->token_classes.push_back(kind);
  bool first = buffer == nullptr;
  if (!first) g_recorder->owner_buffer = buffer;
  DWORD error = first ? g_recorder->first_token_query_error : g_recorder->second_token_query_error;
  if (error != 0) {
    g_recorder->failed = true;
    SetLastError(error);
    return FALSE;
  }
  if (g_recorder->owner_record.empty() || kind != TokenOwner) {
    return GetTokenInformation(token, kind, buffer, size, needed);
  }
  *needed = static_cast<DWORD>(g_recorder->owner_record.size());
  if (size < *needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  memcpy(buffer, g_recorder->owner_record.data(), *needed);
  // The record points at its own copy of the SID.
  auto* owner = static_cast<TOKEN_OWNER*>(buffer);
  owner->Owner = static_cast<BYTE*>(buffer) + sizeof(TOKEN_OWNER);
  return TRUE;
}

BOOL WINAPI ConvertDescriptor(LPCWSTR text, DWORD revision, PSECURITY_DESCRIPTOR* descriptor,
                              PULONG size) {
  ++g_recorder->conversions;
  g_recorder->owner_buffer_allocated_at_conversion = IsAllocated(g_recorder->owner_buffer);
  if (g_recorder->conversion_error != 0) {
    g_recorder->failed = true;
    SetLastError(g_recorder->conversion_error);
    return FALSE;
  }
  return ConvertStringSecurityDescriptorToSecurityDescriptorW(text, revision, descriptor, size);
}

class WorkDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.Ok());
    g_recorder = &recorder_;
    g_work_directory_calls = {&Random,    &CreateDirectoryRecorded, &VolumePath, &VolumeInformation,
                              &OpenToken, &TokenInformation,        &ConvertDescriptor};
  }
  void TearDown() override {
    g_work_directory_calls = {};
    g_recorder = nullptr;
  }
  ExitResult Make(const std::wstring& base) {
    return MakeWorkDirectory(base.c_str(), path_, held_);
  }
  std::wstring Made() const { return path_.text; }

  ScratchDirectory scratch_;
  Recorder recorder_;
  PathBuffer path_;
  HeldDirectory held_;
};

bool IsUpperHex(wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F'); }

TEST_F(WorkDirectory, RealCreationsHaveTheNameShape) {
  std::vector<std::wstring> made;
  for (int i = 0; i < 8; ++i) {
    ExitResult result = Make(scratch_.Path());
    ASSERT_EQ(result.code, EXIT_OK);
    EXPECT_EQ(result.extra, 0u);
    std::wstring path = Made();
    const size_t length = scratch_.Path().size() + 3;  // base and prefix
    ASSERT_EQ(path.size(), length + 10) << path;
    EXPECT_EQ(path.substr(0, length), scratch_.Path() + L"LM_");
    for (size_t digit = length; digit < length + 5; ++digit) {
      EXPECT_TRUE(IsUpperHex(path[digit])) << path;
    }
    EXPECT_EQ(path.substr(length + 5), L".tmp\\");
    DWORD attributes = GetFileAttributesW(path.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    for (const std::wstring& earlier : made) EXPECT_NE(earlier, path);
    made.push_back(path);
  }
  EXPECT_EQ(recorder_.draws, 8);
  ASSERT_EQ(recorder_.creations.size(), 8u);
  // The real volume decided on default or explicit security; either way the creation saw it.
  std::wcout << L"[ info ] Wine volume keeps access lists: "
             << (recorder_.creations[0].with_attributes ? L"yes" : L"no") << std::endl;
}

// What the creation is handed, for each kind of volume and owner. Wine keeps no access lists on
// its files, so the descriptor is read where the creation receives it. Where one is built, it
// must be protected, grant exactly the listed accounts with the token's default owner (not its
// user: one row serves an owner that differs from the user), name no owner of its own, live
// through the creation and be given back after it, the token's owner record having been given
// back before the descriptor was built from it.
TEST_F(WorkDirectory, AccessListHandedToTheCreation) {
  const std::wstring served_owner = L"S-1-5-21-1111-2222-3333-4242";
  struct Case {
    const char* name;
    Volume volume;
    bool serve_owner;  // the token's owner record names served_owner
    bool descriptor;
  } cases[] = {
      {"access lists, the token's owner", Volume::kAccessLists, false, true},
      {"access lists, an owner other than the user", Volume::kAccessLists, true, true},
      {"no persistent access lists", Volume::kNoAccessLists, false, false},
      // A query that fails says nothing about the volume: the directory is protected.
      {"volume path unknown", Volume::kPathFails, false, true},
      {"volume cannot be queried", Volume::kInformationFails, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    recorder_ = {};
    recorder_.volume = c.volume;
    std::wstring owner = TokenOwnerSid();
    if (c.serve_owner) {
      owner = served_owner;
      PSID parsed = nullptr;
      ASSERT_TRUE(ConvertStringSidToSidW(served_owner.c_str(), &parsed));
      const DWORD sid_length = GetLengthSid(parsed);
      recorder_.owner_record.resize(sizeof(TOKEN_OWNER) + sid_length);
      memcpy(recorder_.owner_record.data() + sizeof(TOKEN_OWNER), parsed, sid_length);
      LocalFree(parsed);
    }
    ASSERT_EQ(owner.rfind(L"S-1-", 0), 0u);
    ASSERT_EQ(Make(scratch_.Path()).code, EXIT_OK);
    EXPECT_TRUE(ScratchDirectory::Exists(Made()));
    held_.Release();
    EXPECT_EQ(recorder_.volume_path_queries, 1);
    ASSERT_EQ(recorder_.creations.size(), 1u);
    const Creation& creation = recorder_.creations[0];
    EXPECT_EQ(creation.with_attributes, c.descriptor);
    EXPECT_EQ(creation.descriptor != nullptr, c.descriptor);
    EXPECT_EQ(recorder_.token_opens, c.descriptor ? 1 : 0) << "the token is read only for a list";
    if (!c.descriptor) continue;
    EXPECT_EQ(creation.length, 24u);
    EXPECT_EQ(creation.inherit, FALSE);
    EXPECT_EQ(creation.entries, ListedEntries(owner));
    EXPECT_FALSE(creation.names_an_owner) << "the system makes the creator the owner";
    EXPECT_NE(creation.control & SE_DACL_PRESENT, 0);
    EXPECT_NE(creation.control & SE_DACL_PROTECTED, 0);
    EXPECT_NE(creation.control & SE_DACL_AUTO_INHERITED, 0);
    EXPECT_FALSE(recorder_.owner_buffer_allocated_at_conversion);
    EXPECT_TRUE(creation.descriptor_allocated);
    EXPECT_FALSE(IsAllocated(creation.descriptor));
    EXPECT_EQ(recorder_.token_classes,
              std::vector<TOKEN_INFORMATION_CLASS>({TokenOwner, TokenOwner}));
  }
}

TEST_F(WorkDirectory, DescriptorIsFreedOnceWhenEveryAttemptFails) {
  recorder_.volume = Volume::kAccessLists;
  recorder_.fail_creation = true;
  ExitResult result = Make(scratch_.Path());
  EXPECT_EQ(result.code, EXIT_WORK_DIR_FAILED);
  EXPECT_EQ(result.extra, 0u);
  ASSERT_EQ(recorder_.creations.size(), 10u);
  void* descriptor = recorder_.creations[0].descriptor;
  ASSERT_NE(descriptor, nullptr);
  for (const Creation& creation : recorder_.creations) {
    EXPECT_EQ(creation.descriptor, descriptor);  // built once, serves every attempt
    EXPECT_TRUE(creation.descriptor_allocated);
  }
  EXPECT_FALSE(IsAllocated(descriptor)) << "given back after the last attempt";
  EXPECT_EQ(recorder_.conversions, 1);
  EXPECT_EQ(recorder_.token_opens, 1);
}

// The run finds its work directory again by path for every step; while it is held, nobody can
// rename it away (to put a link to another folder in its place) or delete it.
TEST_F(WorkDirectory, TheNewDirectoryIsHeldAgainstRenameAndDeletion) {
  ASSERT_EQ(Make(scratch_.Path()).code, EXIT_OK);
  ASSERT_TRUE(held_.IsHeld());
  std::wstring made = Made();
  made.pop_back();  // without the final backslash
  const std::wstring moved = scratch_ / L"moved";
  EXPECT_FALSE(MoveFileExW(made.c_str(), moved.c_str(), 0));
  const DWORD rename_error = GetLastError();
  EXPECT_TRUE(rename_error == ERROR_SHARING_VIOLATION || rename_error == ERROR_ACCESS_DENIED)
      << rename_error;
  EXPECT_FALSE(RemoveDirectoryW(made.c_str()));
  EXPECT_TRUE(ScratchDirectory::Exists(made));
  // Files inside come and go as usual.
  EXPECT_TRUE(ScratchDirectory::WriteFile(Made() + L"inside"));
  EXPECT_TRUE(DeleteFileW((Made() + L"inside").c_str()));

  held_.Release();
  EXPECT_TRUE(MoveFileExW(made.c_str(), moved.c_str(), 0)) << GetLastError();
}

// Between the creation and the hold, another process puts something else at the path. That
// attempt fails and the next name is tried; what was put there is not followed.
TEST_F(WorkDirectory, ASwapBeforeTheHoldFailsTheAttempt) {
  const std::wstring target = scratch_ / L"elsewhere\\";
  ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
  struct Case {
    const char* name;
    Swap swap;
  } cases[] = {{"a file", Swap::kFile}, {"a link to another directory", Swap::kLink}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    recorder_ = {};
    recorder_.swap = c.swap;
    recorder_.link_target = target;
    ASSERT_EQ(Make(scratch_.Path()).code, EXIT_OK);
    ASSERT_TRUE(recorder_.swapped) << "nothing was put in the directory's place";
    ASSERT_EQ(recorder_.creations.size(), 2u);
    const std::wstring swapped = recorder_.creations[0].path;
    if (c.swap == Swap::kLink) {
      // A link is taken back as itself; its target stays, empty.
      EXPECT_FALSE(ScratchDirectory::Exists(swapped));
      EXPECT_TRUE(ScratchDirectory::Exists(target));
    } else {
      EXPECT_TRUE(ScratchDirectory::Exists(swapped)) << "not ours to remove";
      EXPECT_EQ(GetFileAttributesW(swapped.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    }
    EXPECT_EQ(Made(), recorder_.creations[1].path + L"\\");
    EXPECT_TRUE(held_.IsHeld());
    held_.Release();
  }
}

std::vector<uint8_t> NameBytes(int i) {
  return {static_cast<uint8_t>(0x10 * i), 0x00, static_cast<uint8_t>(0xF0), 0xFF};
}

TEST_F(WorkDirectory, TenthNameIsTriedWhenNineAreTaken) {
  for (int i = 0; i < 9; ++i) {
    std::vector<uint8_t> bytes = NameBytes(i);
    recorder_.random_bytes.push_back(bytes);
    wchar_t name[16];
    swprintf(name, 16, L"LM_%02X00F.tmp", bytes[0]);
    ASSERT_TRUE(CreateDirectoryW((scratch_ / name).c_str(), nullptr)) << name;
  }
  recorder_.random_bytes.push_back({0xAB, 0xCD, 0xEF, 0x12});
  ExitResult result = Make(scratch_.Path());
  EXPECT_EQ(result.code, EXIT_OK);
  EXPECT_EQ(Made(), scratch_ / L"LM_ABCDE.tmp\\");
  EXPECT_EQ(recorder_.draws, 10);
  ASSERT_EQ(recorder_.creations.size(), 10u);
  EXPECT_EQ(recorder_.creations[0].path, scratch_ / L"LM_0000F.tmp");
  EXPECT_TRUE(ScratchDirectory::Exists(scratch_ / L"LM_ABCDE.tmp"));
}

TEST_F(WorkDirectory, TenFailedCreationsEndTheRun) {
  struct Case {
    const char* name;
    bool names_taken;  // otherwise the base directory does not exist
  } cases[] = {{"every name taken", true}, {"missing base", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    recorder_ = {};
    std::wstring base = c.names_taken ? scratch_.Path() : scratch_ / L"missing\\";
    for (int i = 0; i < 10; ++i) recorder_.random_bytes.push_back(NameBytes(i));
    if (c.names_taken) {
      for (int i = 0; i < 10; ++i) {
        wchar_t name[16];
        swprintf(name, 16, L"LM_%02X00F.tmp", NameBytes(i)[0]);
        CreateDirectoryW((scratch_ / name).c_str(), nullptr);
      }
    }
    ExitResult result = Make(base);
    EXPECT_EQ(result.code, EXIT_WORK_DIR_FAILED);
    EXPECT_EQ(result.extra, 0u);
    EXPECT_EQ(recorder_.draws, 10);
    EXPECT_EQ(recorder_.creations.size(), 10u);
    EXPECT_FALSE(ScratchDirectory::Exists(scratch_ / L"missing"));
  }
}

// A real directory whose path, with its final backslash, is exactly length units long.
std::wstring DeepDirectory(const std::wstring& root, size_t length) {
  std::wstring path = root;
  while (path.size() < length) {
    size_t room = length - path.size();  // units still to add, backslash included
    size_t name = room > 101 ? 100 : room - 1;
    if (room > 101 && room - 101 < 2) name = 98;  // never leave a 1-unit remainder
    path += std::wstring(name, L'd') + L"\\";
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      return L"";
    }
  }
  return path;
}

TEST_F(WorkDirectory, BaseOf246UnitsStillFits) {
  std::wstring base = DeepDirectory(scratch_.Path(), 246);
  ASSERT_EQ(base.size(), 246u);
  ExitResult result = Make(base);
  ASSERT_EQ(result.code, EXIT_OK);
  EXPECT_EQ(Made().size(), 259u);  // L + 10 with L = 249: the whole buffer but the terminator
  EXPECT_TRUE(ScratchDirectory::Exists(Made()));
}

TEST_F(WorkDirectory, LongerBasesTouchNothing) {
  for (size_t length : {247u, 248u, 256u, 257u, 259u, 260u, 400u}) {
    SCOPED_TRACE(length);
    recorder_ = {};
    std::wstring base = scratch_.Path() + std::wstring(length - scratch_.Path().size() - 1, L'x');
    base += L"\\";
    ASSERT_EQ(base.size(), length);
    ExitResult result = Make(base);
    EXPECT_EQ(result.code, EXIT_PATH_TOO_LONG);
    EXPECT_EQ(result.extra, 0u);
    EXPECT_EQ(recorder_.volume_path_queries, 0);
    EXPECT_EQ(recorder_.volume_information_queries, 0);
    EXPECT_EQ(recorder_.token_opens, 0);
    EXPECT_EQ(recorder_.draws, 0);
    EXPECT_EQ(recorder_.creations.size(), 0u);
  }
}

// Each failing call's own error reaches the result, though the token and the memory taken so far
// are given back in between. The platform may set the last error on success too; here every
// handle closed and every block freed meanwhile does, so an error read after them would be theirs.
// (A token that cannot be opened has nothing given back after it: the whole-run fault sweep
// covers it, installer_fault_sweep_test.cpp.)
void* g_real_close = nullptr;
void* g_real_local_free = nullptr;
constexpr DWORD kReleaseError = ERROR_INVALID_FUNCTION;
void CountRelease() {
  if (g_recorder != nullptr && g_recorder->failed) ++g_recorder->releases_after_failure;
  SetLastError(kReleaseError);
}
BOOL WINAPI CloseHandleThatSetsAnError(HANDLE handle) {
  const BOOL closed = reinterpret_cast<decltype(&CloseHandle)>(g_real_close)(handle);
  CountRelease();
  return closed;
}
HLOCAL WINAPI LocalFreeThatSetsAnError(HLOCAL memory) {
  const HLOCAL left = reinterpret_cast<decltype(&LocalFree)>(g_real_local_free)(memory);
  CountRelease();
  return left;
}

TEST_F(WorkDirectory, UnreadableOwnerEndsWithTheFailingCallsError) {
  struct Case {
    const char* name;
    DWORD first_query_error, second_query_error, conversion_error;
    DWORD expected;
  } cases[] = {
      {"size query refused", ERROR_INVALID_HANDLE, 0, 0, ERROR_INVALID_HANDLE},
      {"owner record unreadable", 0, ERROR_BAD_LENGTH, 0, ERROR_BAD_LENGTH},
      {"descriptor text refused", 0, 0, ERROR_INVALID_PARAMETER, ERROR_INVALID_PARAMETER},
  };
  ImportRedirect releases;
  g_real_close = releases.Redirect("kernel32.dll", "CloseHandle",
                                   reinterpret_cast<void*>(&CloseHandleThatSetsAnError));
  g_real_local_free = releases.Redirect("kernel32.dll", "LocalFree",
                                        reinterpret_cast<void*>(&LocalFreeThatSetsAnError));
  ASSERT_NE(g_real_close, nullptr);
  ASSERT_NE(g_real_local_free, nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    recorder_ = {};
    recorder_.volume = Volume::kAccessLists;
    recorder_.first_token_query_error = c.first_query_error;
    recorder_.second_token_query_error = c.second_query_error;
    recorder_.conversion_error = c.conversion_error;
    ExitResult result = Make(scratch_.Path());
    EXPECT_EQ(result.code, EXIT_WORK_DIR_SECURITY_FAILED);
    EXPECT_EQ(result.extra, c.expected);
    EXPECT_GE(recorder_.releases_after_failure, 1) << "something was given back after it";
    EXPECT_FALSE(IsAllocated(recorder_.owner_buffer)) << "the owner record was given back";
    EXPECT_EQ(recorder_.draws, 0);
    EXPECT_EQ(recorder_.creations.size(), 0u);
  }
}

TEST(OwnerSid, IsTheTokensDefaultOwner) {
  LocalMemory<wchar_t> sid;
  ASSERT_EQ(GetOwnerSidString(sid), 0u);
  ASSERT_TRUE(sid.IsValid());
  EXPECT_EQ(std::wstring(sid.Get()), TokenOwnerSid());
}

}  // namespace
