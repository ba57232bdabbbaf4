// A copy of the installer with step markers, for the account of where a run's time goes. It is
// the stub built from the same sources; the linker routes the run sequence's calls to its steps
// through the wrappers below (--wrap), and the test seams of the work directory, the removal loop,
// the launch and the command-line split are filled with functions that mark and then call the real
// platform function. Nothing of the run changes, except that each marker costs a few instructions.
//
// Two environment variables steer it:
//   LUMORA_BENCH_STOP_AT=NAME  ends the process with ExitProcess(0) at the first marker NAME, so
//                              that what the run costs up to there can be measured from outside;
//                              the difference between two such points is the cost of the steps
//                              between them.
//   LUMORA_BENCH_MARKS=PATH    writes "NAME TICKS" lines (QueryPerformanceCounter) and a last
//                              "frequency TICKS" line to PATH when the run ends.
#include <windows.h>
#include <ntsecapi.h>
#include <sddl.h>
#include <shellapi.h>

#include "base/bounded_string.h"
#include "base/exit_result.h"
#include "base/registry_key.h"
#include "files/extracted_files.h"
#include "files/held_directory.h"
#include "files/removal_calls.h"
#include "files/work_directory_calls.h"
#include "installer/installer_settings.h"
#include "installer/settings_calls.h"
#include "launch/launch_calls.h"
#include "lumora/payload_resources.h"
#include "payload/resource_blob.h"
#include "payload/enumerate_resources.h"

namespace {

struct Mark {
  const char* name;
  LONGLONG ticks;
};
constexpr int kMaxMarks = 64;
Mark g_marks[kMaxMarks];
int g_mark_count = 0;
wchar_t g_stop_at[64];
bool g_seen_random = false;
bool g_seen_registry_read = false;

bool SameName(const wchar_t* wide, const char* narrow) {
  while (*narrow != 0 && *wide == static_cast<wchar_t>(*narrow)) ++wide, ++narrow;
  return *wide == 0 && *narrow == 0;
}

void MarkStep(const char* name) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  if (g_mark_count < kMaxMarks) g_marks[g_mark_count++] = {name, now.QuadPart};
  if (SameName(g_stop_at, name)) ExitProcess(0);
}

void WriteMarks() {
  wchar_t path[MAX_PATH];
  if (GetEnvironmentVariableW(L"LUMORA_BENCH_MARKS", path, MAX_PATH) - 1 >= MAX_PATH - 1) return;
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  for (int i = 0; i <= g_mark_count; ++i) {
    const char* name = i < g_mark_count ? g_marks[i].name : "frequency";
    unsigned long long value = i < g_mark_count ? g_marks[i].ticks : frequency.QuadPart;
    char line[96];
    int n = 0;
    while (name[n] != 0 && n < 60) line[n] = name[n], ++n;
    line[n++] = ' ';
    char digits[24];
    int d = 0;
    do digits[d++] = static_cast<char>('0' + value % 10); while ((value /= 10) != 0);
    while (d > 0) line[n++] = digits[--d];
    line[n++] = '\n';
    DWORD written = 0;
    WriteFile(file, line, n, &written, nullptr);
  }
  CloseHandle(file);
}

// The seams: mark, then do what the real installer does.
wchar_t** WINAPI SplitMarked(const wchar_t* command_line, int* count) {
  MarkStep("split");
  wchar_t** argv = CommandLineToArgvW(command_line, count);
  MarkStep("split-done");
  return argv;
}
BOOL WINAPI VolumePath(LPCWSTR path, LPWSTR root, DWORD size) {
  MarkStep("volume");
  return GetVolumePathNameW(path, root, size);
}
BOOL WINAPI VolumeInformation(LPCWSTR root, LPWSTR name, DWORD name_size, LPDWORD serial,
                              LPDWORD length, LPDWORD flags, LPWSTR fs, DWORD fs_size) {
  const BOOL ok = GetVolumeInformationW(root, name, name_size, serial, length, flags, fs, fs_size);
  MarkStep("volume-done");
  return ok;
}
BOOL WINAPI OpenToken(HANDLE process, DWORD access, PHANDLE token) {
  MarkStep("descriptor");
  return OpenProcessToken(process, access, token);
}
BOOL WINAPI ConvertDescriptor(LPCWSTR text, DWORD revision, PSECURITY_DESCRIPTOR* descriptor,
                              PULONG size) {
  const BOOL ok = ConvertStringSecurityDescriptorToSecurityDescriptorW(text, revision, descriptor,
                                                                       size);
  MarkStep("descriptor-done");
  return ok;
}
BOOLEAN WINAPI Random(PVOID bytes, ULONG count) {
  if (!g_seen_random) MarkStep("create-directory");
  g_seen_random = true;
  return SystemFunction036(bytes, count);
}
BOOL WINAPI CreateProcessMarked(LPCWSTR program, LPWSTR command, LPSECURITY_ATTRIBUTES process,
                                LPSECURITY_ATTRIBUTES thread, BOOL inherit, DWORD flags,
                                LPVOID environment, LPCWSTR directory, LPSTARTUPINFOW startup,
                                LPPROCESS_INFORMATION created) {
  MarkStep("create-process");
  const BOOL ok = CreateProcessW(program, command, process, thread, inherit, flags, environment,
                                 directory, startup, created);
  MarkStep("process-created");
  return ok;
}
DWORD WINAPI WaitMarked(HANDLE handle, DWORD timeout) {
  const DWORD waited = WaitForSingleObject(handle, timeout);
  MarkStep("child-exited");
  return waited;
}

}  // namespace

extern "C" {

// The steps, as the run sequence and the unpacking call them.
ExitResult __real__Z13InstallerMainP11HINSTANCE__(HMODULE);
bool __real__Z4LoadR17InstallerSettingsP11HINSTANCE__b(InstallerSettings&, HMODULE, bool);
uint32_t __real__ZN11RegistryKey10ReadStringEPKwPwj(RegistryKey*, const wchar_t*, wchar_t*,
                                                    uint32_t);
ExitResult __real__Z17MakeWorkDirectoryPKwR13BoundedStringILj260EER13HeldDirectory(
    const wchar_t*, PathBuffer&, HeldDirectory&);
void __real__Z14TagFullInstallRK17InstallerSettings(const InstallerSettings&);
ExitResult
__real__Z13UnpackPayloadP11HINSTANCE__PKwR14ExtractedFilesRP13ExtractedFileR11PayloadTypeS7_S9_Ri(
    HMODULE, const wchar_t*, ExtractedFiles&, ExtractedFile*&, PayloadType&,
    ExtractedFile*&, PayloadType&, int32_t&);
bool __real__Z18EnumerateResourcesP15ResourceVisitorP11HINSTANCE__PKw(ResourceVisitor*, HMODULE,
                                                                       const wchar_t*);
uint32_t __real__Z19WriteResourceToFileRK12ResourceBlobR13ExtractedFile(const ResourceBlob&,
                                                                        ExtractedFile&);
bool __real__Z13ExpandCabinetPKwR13ExtractedFile(const wchar_t*, ExtractedFile&);
ExitResult __real__Z16InstallWithSetupPKwS0_RK13BoundedStringILj260EES4_b(
    const wchar_t*, const wchar_t*, const PathBuffer&, const PathBuffer&, bool);
void __real__Z15RemoveExtractedR14ExtractedFilesbPKwR13HeldDirectoryRi(ExtractedFiles&, bool,
                                                                       const wchar_t*,
                                                                       HeldDirectory&, int32_t&);
void __real__Z15StoreRetryCountRK17InstallerSettingsi(const InstallerSettings&, int32_t);

ExitResult __wrap__Z13InstallerMainP11HINSTANCE__(HMODULE module) {
  if (GetEnvironmentVariableW(L"LUMORA_BENCH_STOP_AT", g_stop_at, 64) >= 64) g_stop_at[0] = 0;
  g_settings_calls.split_command_line = &SplitMarked;
  g_work_directory_calls.get_volume_path_name = &VolumePath;
  g_work_directory_calls.get_volume_information = &VolumeInformation;
  g_work_directory_calls.open_process_token = &OpenToken;
  g_work_directory_calls.convert_descriptor = &ConvertDescriptor;
  g_work_directory_calls.random = &Random;
  g_launch_calls.create_process = &CreateProcessMarked;
  g_launch_calls.wait_for_single_object = &WaitMarked;
  MarkStep("entry");
  const ExitResult result = __real__Z13InstallerMainP11HINSTANCE__(module);
  MarkStep("end");
  WriteMarks();
  return result;
}

bool __wrap__Z4LoadR17InstallerSettingsP11HINSTANCE__b(InstallerSettings& settings, HMODULE module,
                                                       bool resources_sound) {
  const bool ok =
      __real__Z4LoadR17InstallerSettingsP11HINSTANCE__b(settings, module, resources_sound);
  MarkStep("settings-done");
  return ok;
}

// The first read of a registry value is the settings' own; later ones (the tag, the patch) are
// part of their steps.
uint32_t __wrap__ZN11RegistryKey10ReadStringEPKwPwj(RegistryKey* key, const wchar_t* name,
                                                    wchar_t* buffer, uint32_t capacity) {
  if (!g_seen_registry_read) MarkStep("registry-query");
  g_seen_registry_read = true;
  return __real__ZN11RegistryKey10ReadStringEPKwPwj(key, name, buffer, capacity);
}

ExitResult __wrap__Z17MakeWorkDirectoryPKwR13BoundedStringILj260EER13HeldDirectory(
    const wchar_t* base, PathBuffer& path, HeldDirectory& held) {
  MarkStep("work-directory");
  const ExitResult result =
      __real__Z17MakeWorkDirectoryPKwR13BoundedStringILj260EER13HeldDirectory(base, path, held);
  MarkStep("work-directory-done");
  return result;
}

void __wrap__Z14TagFullInstallRK17InstallerSettings(const InstallerSettings& settings) {
  __real__Z14TagFullInstallRK17InstallerSettings(settings);
  MarkStep("tag-done");
}

ExitResult
__wrap__Z13UnpackPayloadP11HINSTANCE__PKwR14ExtractedFilesRP13ExtractedFileR11PayloadTypeS7_S9_Ri(
    HMODULE module, const wchar_t* work_dir, ExtractedFiles& files, ExtractedFile*& setup,
    PayloadType& setup_type, ExtractedFile*& archive, PayloadType& archive_type,
    int32_t& max_attempts) {
  const ExitResult result =
      __real__Z13UnpackPayloadP11HINSTANCE__PKwR14ExtractedFilesRP13ExtractedFileR11PayloadTypeS7_S9_Ri(
          module, work_dir, files, setup, setup_type, archive, archive_type, max_attempts);
  MarkStep("unpack-done");
  return result;
}

bool __wrap__Z18EnumerateResourcesP15ResourceVisitorP11HINSTANCE__PKw(ResourceVisitor* visitor,
                                                                       HMODULE module,
                                                                       const wchar_t* type) {
  const bool ok = __real__Z18EnumerateResourcesP15ResourceVisitorP11HINSTANCE__PKw(visitor, module,
                                                                                  type);
  MarkStep(type[1] == L'7' ? "enumerated-B7" : type[1] == L'L' ? "enumerated-BL" : "enumerated-BN");
  return ok;
}

uint32_t __wrap__Z19WriteResourceToFileRK12ResourceBlobR13ExtractedFile(const ResourceBlob& blob,
                                                                        ExtractedFile& entry) {
  static int count = 0;
  const uint32_t error =
      __real__Z19WriteResourceToFileRK12ResourceBlobR13ExtractedFile(blob, entry);
  MarkStep(count++ == 0 ? "archive-written" : "setup-written");
  return error;
}

// The cabinet file itself is removed with the rest, in the clean-up ("remove-done").
bool __wrap__Z13ExpandCabinetPKwR13ExtractedFile(const wchar_t* source,
                                                  ExtractedFile& destination) {
  const bool ok = __real__Z13ExpandCabinetPKwR13ExtractedFile(source, destination);
  MarkStep("cabinet-expanded");
  return ok;
}

ExitResult __wrap__Z16InstallWithSetupPKwS0_RK13BoundedStringILj260EES4_b(
    const wchar_t* previous_version, const wchar_t* command_line, const PathBuffer& archive_path,
    const PathBuffer& setup_path, bool compressed_archive) {
  MarkStep("install");
  return __real__Z16InstallWithSetupPKwS0_RK13BoundedStringILj260EES4_b(
      previous_version, command_line, archive_path, setup_path, compressed_archive);
}

void __wrap__Z15RemoveExtractedR14ExtractedFilesbPKwR13HeldDirectoryRi(
    ExtractedFiles& files, bool everything, const wchar_t* work_dir, HeldDirectory& held,
    int32_t& max_attempts) {
  MarkStep("remove");
  __real__Z15RemoveExtractedR14ExtractedFilesbPKwR13HeldDirectoryRi(files, everything, work_dir,
                                                                    held, max_attempts);
  MarkStep("remove-done");
}

void __wrap__Z15StoreRetryCountRK17InstallerSettingsi(const InstallerSettings& settings,
                                                      int32_t max_attempts) {
  __real__Z15StoreRetryCountRK17InstallerSettingsi(settings, max_attempts);
  MarkStep("report-done");
}

}  // extern "C"
