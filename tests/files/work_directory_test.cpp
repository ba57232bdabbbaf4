#include "files/work_directory.h"

#include <ntsecapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <deque>
#include <iostream>
#include <string>
#include <vector>

#include "support/scratch_directory.h"
#include "files/work_directory_calls.h"

namespace {

constexpr const wchar_t* kSpecifiedHead =
    L"D:PAI(A;;FA;;;BA)(A;OIIOCI;GA;;;BA)(A;;FA;;;SY)(A;OIIOCI;GA;;;SY)(A;OIIOCI;GA;;;CO)(A;;FA;;;";

std::wstring DescriptorText(PSECURITY_DESCRIPTOR descriptor) {
  wchar_t* text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
          descriptor, SDDL_REVISION_1,
          OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
              SACL_SECURITY_INFORMATION,
          &text, nullptr)) {
    return L"<unconvertible>";
  }
  std::wstring result(text);
  LocalFree(text);
  return result;
}

// The text as the platform renders it back once it has been made into a descriptor.
std::wstring Normalised(const std::wstring& text) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return L"<rejected>";
  }
  std::wstring result = DescriptorText(descriptor);
  LocalFree(descriptor);
  return result;
}

// "D:PAI(a)(b)" -> {"D:PAI", "(a)", "(b)"}
std::vector<std::wstring> Entries(const std::wstring& text) {
  std::vector<std::wstring> entries;
  size_t start = 0;
  while (start < text.size()) {
    size_t next = text.find(L'(', start + 1);
    if (next == std::wstring::npos) next = text.size();
    entries.push_back(text.substr(start, next - start));
    start = next;
  }
  return entries;
}

// Whether a block of the process heap (where LocalAlloc's memory comes from) is still allocated:
// what the platform allocated for the run must be given back, each at its time.
bool IsAllocated(const void* block) {
  if (block == nullptr) return false;
  const HANDLE heap = GetProcessHeap();
  PROCESS_HEAP_ENTRY entry = {};
  bool found = false;
  HeapLock(heap);
  while (!found && HeapWalk(heap, &entry)) {
    found = (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0 && entry.lpData == block;
  }
  HeapUnlock(heap);
  return found;
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
  std::wstring text;  // the descriptor as it was at the call
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
      creation.text = DescriptorText(creation.descriptor);
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

// Wine's volume may or may not claim persistent access lists; the descriptor is checked on a
// volume made to claim them.
TEST_F(WorkDirectory, DescriptorHandedToTheCreationIsTheSpecifiedOne) {
  recorder_.volume = Volume::kAccessLists;
  ASSERT_EQ(Make(scratch_.Path()).code, EXIT_OK);
  ASSERT_EQ(recorder_.creations.size(), 1u);
  const Creation& creation = recorder_.creations[0];
  ASSERT_TRUE(creation.with_attributes);
  EXPECT_EQ(creation.length, sizeof(SECURITY_ATTRIBUTES));
  EXPECT_EQ(creation.length, 24u);
  EXPECT_EQ(creation.inherit, FALSE);
  ASSERT_NE(creation.descriptor, nullptr);

  const std::wstring owner = TokenOwnerSid();
  ASSERT_EQ(owner.rfind(L"S-1-", 0), 0u) << owner;
  const std::wstring expected = Normalised(kSpecifiedHead + owner + L")");
  std::vector<std::wstring> built = Entries(creation.text);
  std::vector<std::wstring> wanted = Entries(expected);
  ASSERT_EQ(built.size(), 7u) << creation.text;
  ASSERT_EQ(built.size(), wanted.size()) << creation.text << L" vs " << expected;
  for (size_t i = 0; i < built.size(); ++i) EXPECT_EQ(built[i], wanted[i]) << i;

  EXPECT_NE(creation.control & SE_DACL_PRESENT, 0);
  EXPECT_NE(creation.control & SE_DACL_PROTECTED, 0);
  EXPECT_NE(creation.control & SE_DACL_AUTO_INHERITED, 0);

  // The token's owner record is given back before the descriptor is built from it; the
  // descriptor lives through the creation and is given back after it.
  EXPECT_FALSE(recorder_.owner_buffer_allocated_at_conversion);
  EXPECT_TRUE(creation.descriptor_allocated);
  EXPECT_FALSE(IsAllocated(creation.descriptor));
  EXPECT_EQ(recorder_.token_opens, 1);
  EXPECT_EQ(recorder_.token_classes,
            std::vector<TOKEN_INFORMATION_CLASS>({TokenOwner, TokenOwner}));
}

// The entries one by one, independent of how the platform renders them as text.
TEST_F(WorkDirectory, DescriptorGrantsExactlyTheListedAccounts) {
  recorder_.volume = Volume::kAccessLists;
  // An owner that differs from the token's user, so that a descriptor naming the user would fail.
  BYTE owner_sid[SECURITY_MAX_SID_SIZE];
  PSID parsed = nullptr;
  ASSERT_TRUE(ConvertStringSidToSidW(L"S-1-5-21-1111-2222-3333-4242", &parsed));
  DWORD sid_length = GetLengthSid(parsed);
  memcpy(owner_sid, parsed, sid_length);
  LocalFree(parsed);
  recorder_.owner_record.resize(sizeof(TOKEN_OWNER) + sid_length);
  memcpy(recorder_.owner_record.data() + sizeof(TOKEN_OWNER), owner_sid, sid_length);

  ASSERT_EQ(Make(scratch_.Path()).code, EXIT_OK);
  ASSERT_EQ(recorder_.creations.size(), 1u);
  ASSERT_NE(recorder_.creations[0].descriptor, nullptr);
  EXPECT_NE(recorder_.creations[0].text.find(L"(A;;FA;;;S-1-5-21-1111-2222-3333-4242)"),
            std::wstring::npos)
      << recorder_.creations[0].text;

  // Rebuild the descriptor the creation saw and walk its list.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
      recorder_.creations[0].text.c_str(), SDDL_REVISION_1, &descriptor, nullptr));
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
  ASSERT_TRUE(present);
  ASSERT_NE(dacl, nullptr);
  PSID owner = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor, &owner, &defaulted));
  EXPECT_EQ(owner, nullptr);

  auto well_known = [](WELL_KNOWN_SID_TYPE type) {
    std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
    DWORD size = static_cast<DWORD>(sid.size());
    CreateWellKnownSid(type, nullptr, sid.data(), &size);
    return sid;
  };
  std::vector<BYTE> admins = well_known(WinBuiltinAdministratorsSid);
  std::vector<BYTE> system = well_known(WinLocalSystemSid);
  std::vector<BYTE> creator = well_known(WinCreatorOwnerSid);
  constexpr BYTE kInside = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE;
  struct Expected {
    BYTE flags;
    ACCESS_MASK mask;
    const void* sid;
  } expected[] = {
      {0, FILE_ALL_ACCESS, admins.data()},   {kInside, GENERIC_ALL, admins.data()},
      {0, FILE_ALL_ACCESS, system.data()},   {kInside, GENERIC_ALL, system.data()},
      {kInside, GENERIC_ALL, creator.data()}, {0, FILE_ALL_ACCESS, owner_sid},
  };
  ASSERT_EQ(dacl->AceCount, 6);
  for (DWORD i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    void* entry = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, &entry));
    auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(ace->Header.AceFlags, expected[i].flags);
    EXPECT_EQ(ace->Mask, expected[i].mask);
    EXPECT_TRUE(EqualSid(&ace->SidStart, const_cast<void*>(expected[i].sid)));
  }
  LocalFree(descriptor);
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
      const DWORD attributes = GetFileAttributesW(swapped.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES &&
          (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        ADD_FAILURE() << "the link is still there and not a link";
      }
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

TEST_F(WorkDirectory, DefaultSecurityOnlyWhereTheVolumeSaysItKeepsNoAccessLists) {
  struct Case {
    const char* name;
    Volume volume;
    bool descriptor;
  } cases[] = {{"no persistent access lists", Volume::kNoAccessLists, false},
               // A query that fails says nothing about the volume: the directory is protected.
               {"volume path unknown", Volume::kPathFails, true},
               {"volume cannot be queried", Volume::kInformationFails, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    recorder_ = {};
    recorder_.volume = c.volume;
    ExitResult result = Make(scratch_.Path());
    EXPECT_EQ(result.code, EXIT_OK);
    ASSERT_EQ(recorder_.creations.size(), 1u);
    EXPECT_EQ(recorder_.creations[0].with_attributes, c.descriptor);
    EXPECT_EQ(recorder_.creations[0].descriptor != nullptr, c.descriptor);
    if (c.descriptor) {
      EXPECT_EQ(Entries(recorder_.creations[0].text).size(), 7u) << recorder_.creations[0].text;
      EXPECT_NE(recorder_.creations[0].control & SE_DACL_PROTECTED, 0);
    }
    EXPECT_EQ(recorder_.volume_path_queries, 1);
    EXPECT_EQ(recorder_.token_opens, c.descriptor ? 1 : 0);
    if (c.descriptor) EXPECT_FALSE(IsAllocated(recorder_.creations[0].descriptor));
    EXPECT_TRUE(ScratchDirectory::Exists(Made()));
  }
}

// The error of the failing call reaches the result, though the token and the memory taken so far
// are given back in between.
TEST_F(WorkDirectory, UnreadableOwnerEndsWithTheLastError) {
  struct Case {
    const char* name;
    DWORD open_error, first_query_error, second_query_error, conversion_error;
    DWORD expected;
  } cases[] = {
      {"token cannot be opened", ERROR_ACCESS_DENIED, 0, 0, 0, ERROR_ACCESS_DENIED},
      {"size query refused", 0, ERROR_INVALID_HANDLE, 0, 0, ERROR_INVALID_HANDLE},
      {"owner record unreadable", 0, 0, ERROR_BAD_LENGTH, 0, ERROR_BAD_LENGTH},
      {"descriptor text refused", 0, 0, 0, ERROR_INVALID_PARAMETER, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    recorder_ = {};
    recorder_.volume = Volume::kAccessLists;
    recorder_.token_open_error = c.open_error;
    recorder_.first_token_query_error = c.first_query_error;
    recorder_.second_token_query_error = c.second_query_error;
    recorder_.conversion_error = c.conversion_error;
    ExitResult result = Make(scratch_.Path());
    EXPECT_EQ(result.code, EXIT_WORK_DIR_SECURITY_FAILED);
    EXPECT_EQ(result.extra, c.expected);
    EXPECT_FALSE(IsAllocated(recorder_.owner_buffer)) << "the owner record was given back";
    EXPECT_EQ(recorder_.draws, 0);
    EXPECT_EQ(recorder_.creations.size(), 0u);
  }
}

TEST(OwnerSid, IsTheTokensDefaultOwner) {
  LocalMemory<wchar_t> sid;
  ASSERT_TRUE(GetOwnerSidString(sid));
  ASSERT_TRUE(sid.IsValid());
  EXPECT_EQ(std::wstring(sid.Get()), TokenOwnerSid());
}

}  // namespace
