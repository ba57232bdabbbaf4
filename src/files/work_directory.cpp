#include "files/work_directory.h"

#include <ntsecapi.h>
#include <sddl.h>

#include "base/platform_call.h"
#include "files/work_directory_calls.h"
#include "lumora/payload_rules.h"

WorkDirectoryCalls g_work_directory_calls = {};

namespace {

constexpr wchar_t kPrefix[] = L"LM_";
constexpr wchar_t kSuffix[] = L".tmp";
constexpr wchar_t kSeparator[] = L"\\";
constexpr uint32_t kNameDigits = 5;
// What the name needs after the prefix: the digits, the suffix, the final separator and the
// terminator.
constexpr uint32_t kNameRoom = kNameDigits + TextLength(kSuffix) + TextLength(kSeparator) + 1;
constexpr int kNameAttempts = 10;
// The packer judges what fits from the shortest work directory: these names beside an installer
// at a drive's root ("C:\").
static_assert(TextLength(L"C:\\") + TextLength(kPrefix) + kNameDigits + TextLength(kSuffix) +
                      TextLength(kSeparator) ==
                  kShortestWorkDirectory,
              "the packer's shortest work directory is the stub's");
// Protected (P), so nothing is inherited from the installer's directory, which anyone may be able
// to write to; the directory itself admits the administrators, the system account and this
// process's default owner, and whatever is created inside grants full control to the
// administrators, the system account and its own creator. Nobody else gets anything.
constexpr const wchar_t* kDescriptorHead =
    L"D:PAI(A;;FA;;;BA)(A;OIIOCI;GA;;;BA)(A;;FA;;;SY)(A;OIIOCI;GA;;;SY)(A;OIIOCI;GA;;;CO)(A;;FA;;;";
// The head, a string SID of at most 183 units, ")" and the terminator.
using DescriptorText = BoundedString<300>;

// True only when the volume answers that it keeps no access lists. A volume that cannot be asked
// gets the descriptor all the same: a failed query says nothing about the volume, and a directory
// created with inherited security would take whatever the installer's folder grants to others.
bool SaysItKeepsNoAccessLists(const wchar_t* path) {
  const WorkDirectoryCalls& calls = g_work_directory_calls;
  PathBuffer root;
  if (!PlatformCall(calls.get_volume_path_name, &GetVolumePathNameW)(path, root.text,
                                                                    root.capacity)) {
    return false;
  }
  DWORD flags = 0;
  if (!PlatformCall(calls.get_volume_information, &GetVolumeInformationW)(
          root.text, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) {
    return false;
  }
  return (flags & FILE_PERSISTENT_ACLS) == 0;
}

}  // namespace

uint32_t GetOwnerSidString(LocalMemory<wchar_t>& sid) {
  sid.Reset();
  const auto token_information =
      PlatformCall(g_work_directory_calls.get_token_information, &GetTokenInformation);
  HANDLE opened = nullptr;
  if (!PlatformCall(g_work_directory_calls.open_process_token, &OpenProcessToken)(
          GetCurrentProcess(), TOKEN_QUERY, &opened)) {
    return GetLastError();
  }
  KernelHandle token(opened);
  DWORD size = 0;
  // The size query fails by design; only ERROR_INSUFFICIENT_BUFFER with a size goes on.
  if (token_information(token.Get(), TokenOwner, nullptr, 0, &size)) return ERROR_INVALID_DATA;
  const DWORD size_error = GetLastError();
  if (size_error != ERROR_INSUFFICIENT_BUFFER) return size_error;
  if (size == 0) return ERROR_INVALID_DATA;
  LocalMemory<TOKEN_OWNER> owner(static_cast<TOKEN_OWNER*>(LocalAlloc(LMEM_ZEROINIT, size)));
  if (!owner.IsValid()) return GetLastError();
  if (!token_information(token.Get(), TokenOwner, owner.Get(), size, &size)) return GetLastError();
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(owner.Get()->Owner, &text)) return GetLastError();
  sid.Reset(text);
  return ERROR_SUCCESS;
}

uint32_t BuildDirectorySecurity(const wchar_t* path, LocalMemory<void>& descriptor) {
  descriptor.Reset();
  // Default security where the volume keeps no access lists: an explicit list would be dropped
  // there anyway.
  if (SaysItKeepsNoAccessLists(path)) return ERROR_SUCCESS;
  LocalMemory<wchar_t> sid;
  const uint32_t sid_error = GetOwnerSidString(sid);
  if (sid_error != ERROR_SUCCESS) return sid_error;
  DescriptorText text;
  if (!AppendBounded(text.text, text.capacity, kDescriptorHead) ||
      !AppendBounded(text.text, text.capacity, sid.Get()) ||
      !AppendBounded(text.text, text.capacity, L")")) {
    // No platform call failed here, so there is no error of its own to report.
    return ERROR_INSUFFICIENT_BUFFER;
  }
  const auto convert = PlatformCall(g_work_directory_calls.convert_descriptor,
                                    &ConvertStringSecurityDescriptorToSecurityDescriptorW);
  PSECURITY_DESCRIPTOR converted = nullptr;
  if (!convert(text.text, SDDL_REVISION_1, &converted, nullptr)) return GetLastError();
  descriptor.Reset(converted);
  return ERROR_SUCCESS;
}

ExitResult MakeWorkDirectory(const wchar_t* base, PathBuffer& path, HeldDirectory& held) {
  constexpr ExitResult kTooLong = {EXIT_PATH_TOO_LONG, 0};
  if (!CopyBounded(path.text, path.capacity, base)) return kTooLong;
  if (!AppendBounded(path.text, path.capacity, kPrefix)) return kTooLong;
  const uint32_t name_start = LengthBounded(path.text, path.capacity);
  if (path.capacity - name_start < kNameRoom) return kTooLong;

  // Built once, serves every attempt, released after the last.
  LocalMemory<void> descriptor;
  const uint32_t security_error = BuildDirectorySecurity(base, descriptor);
  if (security_error != ERROR_SUCCESS) return {EXIT_WORK_DIR_SECURITY_FAILED, security_error};
  SECURITY_ATTRIBUTES attributes;
  attributes.nLength = sizeof(attributes);
  attributes.lpSecurityDescriptor = descriptor.Get();
  attributes.bInheritHandle = FALSE;

  const auto random = PlatformCall(g_work_directory_calls.random, &SystemFunction036);
  const auto create = PlatformCall(g_work_directory_calls.create_directory, &CreateDirectoryW);
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    // Zeroed first: should the random source fail, the name is still defined, and only the
    // creation's refusal of an existing name keeps runs apart.
    uint8_t bytes[4] = {0, 0, 0, 0};
    random(bytes, sizeof(bytes));
    // Eight digits, of which the first kNameDigits (20 random bits) stay.
    ToHexUpper(bytes, sizeof(bytes), path.text + name_start, path.capacity - name_start);
    path.text[name_start + kNameDigits] = 0;
    AppendBounded(path.text, path.capacity, kSuffix);
    // Whatever the reason of a refusal (name taken, access denied, no such base), the next name
    // is tried; the reason is not reported.
    if (!create(path.text, descriptor.Get() != nullptr ? &attributes : nullptr)) continue;
    // Held from here on. Something other than a directory at the path now was put there after
    // the creation; it is not used. An empty directory, or a link (removed itself, never its
    // target), is taken back; anything else stays as it is.
    if (held.Hold(path.text) != ERROR_SUCCESS) {
      (void)RemoveDirectoryW(path.text);
      continue;
    }
    AppendBounded(path.text, path.capacity, kSeparator);
    return {EXIT_OK, 0};
  }
  return {EXIT_WORK_DIR_FAILED, 0};
}
