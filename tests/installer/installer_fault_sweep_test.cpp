// Every platform call of a whole run, failed once. For each of three installers (a "BN" setup
// program, a "BL" cabinet, a "B7" patch with the installed version present), a good run first
// counts the calls that the stub's code makes; then, for every N from 1 to that count, a fresh run
// fails the Nth call, once, as the platform documents it failing (support/fault_injection.h). The
// runs are made in this process: the payload is a resource-only image loaded as a module, which
// InstallerMain takes for its own image, so the work directory is made beside it.
//
// Each run must end with a code of the exit-code table (the sample setup program only ever exits
// with 0 here), record what the run sequence records for that code, leak no handle, write nothing
// outside its work directory and leave nothing behind. The tallies are printed for
// docs/reliability.md.
#include <windows.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/client_state_key.h"
#include "base/exit_result.h"
#include "files/removal_calls.h"
#include "installer/installer_main.h"
#include "payload/cabinet_library.h"
#include "support/client_state_scratch.h"
#include "support/fault_injection.h"
#include "support/scratch_directory.h"

namespace {

using fault_injection::FaultInjection;
using fault_injection::Plan;
using scratch::kNone;

// The handles this process has open. GetProcessHandleCount gives 0 under Wine 8.0, which lists
// every process's handles through NtQuerySystemInformation instead.
size_t OpenHandles() {
  DWORD count = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0) return count;
  struct Entry {
    ULONG process;
    UCHAR type;
    UCHAR flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
  };
  constexpr ULONG kSystemHandleInformation = 16;
  using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  static const Query query = reinterpret_cast<Query>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation"));
  std::vector<uint8_t> buffer(1 << 20);
  for (;;) {
    ULONG needed = 0;
    const LONG status = query(kSystemHandleInformation, buffer.data(),
                              static_cast<ULONG>(buffer.size()), &needed);
    if (status == 0) break;
    if (buffer.size() >= (64u << 20)) return 0;
    buffer.resize(buffer.size() * 2);
  }
  const ULONG entries = *reinterpret_cast<const ULONG*>(buffer.data());
  const auto* entry = reinterpret_cast<const Entry*>(buffer.data() + sizeof(ULONG_PTR));
  size_t mine = 0;
  for (ULONG i = 0; i < entries; ++i) {
    if (entry[i].process == GetCurrentProcessId()) ++mine;
  }
  return mine;
}

// Failures that end the run before anything is created, tagged or recorded.
bool EndsBeforeTheWorkDirectory(uint32_t code) {
  return code == EXIT_SETTINGS_FAILED || code == EXIT_UNSUPPORTED_SWITCH ||
         code == EXIT_OWN_DIRECTORY_UNKNOWN || code == EXIT_WORK_DIR_FAILED ||
         code == EXIT_WORK_DIR_SECURITY_FAILED;
}

bool IsRegistryCall(const std::string& function) { return function.rfind("Reg", 0) == 0; }

struct Installer {
  const char* name;
  const wchar_t* image;
  bool patch;  // a "B7" patch: the installed setup program is found through "UninstallString"
};

const Installer kInstallers[] = {
    {"BN", L"sweep_bn.dll", false},
    {"BL", L"sweep_bl.dll", false},
    {"B7", L"sweep_b7.dll", true},
};

void PrintTo(const Installer& installer, std::ostream* out) { *out << installer.name; }

class FaultSweep : public ::testing::TestWithParam<Installer> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.Ok());
    SetEnvironmentVariableW(L"VelmarUpdateIsMachine", nullptr);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Velmar", L"LumoraInstallerCleanup");
    installer_dir_ = scratch_ / L"inst\\";
    current_dir_ = scratch_ / L"current\\";
    ASSERT_TRUE(CreateDirectoryW(installer_dir_.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(current_dir_.c_str(), nullptr));
    const std::wstring image = installer_dir_ + L"installer.dll";
    ASSERT_TRUE(CopyFileW((std::wstring(LUMORA_FIXTURE_DIR) + L"\\" + GetParam().image).c_str(),
                          image.c_str(), FALSE));
    if (GetParam().patch) {
      installed_ = scratch_ / L"installed\\1.2.3.4\\setup.exe";
      std::filesystem::create_directories(scratch_ / L"installed\\1.2.3.4");
      ASSERT_TRUE(CopyFileW(LUMORA_SAMPLE_SETUP, installed_.c_str(), FALSE));
    }
    // Loaded as a module, so that its file name is known: the installer's own directory.
    module_ = LoadLibraryExW(image.c_str(), nullptr, 0);
    ASSERT_NE(module_, nullptr) << GetLastError();
    wchar_t previous[MAX_PATH + 1] = {};
    GetCurrentDirectoryW(MAX_PATH + 1, previous);
    previous_dir_ = previous;
  }
  void TearDown() override {
    SetCurrentDirectoryW(previous_dir_.c_str());
    if (module_ != nullptr) FreeLibrary(module_);
  }

  // The client state as the updater leaves it before a run.
  void PrepareClientState() {
    state_.Remove();
    ASSERT_TRUE(state_.SetText(kApValue, L""));
    if (GetParam().patch) ASSERT_TRUE(state_.SetText(kUninstallStringValue, installed_));
  }

  // What the installer's own directory and the run's current directory hold, the installed
  // program's tree aside.
  std::vector<std::wstring> Outside() const {
    std::vector<std::wstring> names;
    for (const std::wstring& name : ListTree(scratch_.Path())) {
      if (name.rfind(L"installed", 0) != 0) names.push_back(name);
    }
    return names;
  }

  // One whole run with the fail_at-th call failing (0: none). The cabinet library is let go of
  // first, so that every run loads it and its load is swept like any other call.
  Plan Run(FaultInjection& faults, uint32_t fail_at, ExitResult& result) {
    cabinet_library = CabinetLibrary{};
    SetCurrentDirectoryW(current_dir_.c_str());
    const Plan plan = faults.Run(fail_at, [&] { result = InstallerMain(module_); });
    SetCurrentDirectoryW(previous_dir_.c_str());
    return plan;
  }

  ScratchDirectory scratch_;
  scratch::ClientStateKey state_{false, kDefaultAppId};
  std::wstring installer_dir_;
  std::wstring current_dir_;
  std::wstring previous_dir_;
  std::wstring installed_;
  HMODULE module_ = nullptr;
};

TEST_P(FaultSweep, EveryCallOfAWholeRunFailsOnceAndTheRunStaysSound) {
  const std::vector<std::wstring> before = {L"current", L"inst", L"inst\\installer.dll"};
  ASSERT_EQ(Outside(), before);

  FaultInjection faults;
  EXPECT_TRUE(faults.NotImported().empty())
      << "swept calls this program does not import: " << faults.NotImported().front();

  // The good run: it succeeds, and its count is what the sweep goes through. It runs twice, the
  // first time to let the platform open what it keeps for the process (the registry's root key,
  // the cabinet library).
  ExitResult result;
  for (int warm = 0; warm < 2; ++warm) {
    ASSERT_NO_FATAL_FAILURE(PrepareClientState());
    const Plan good = Run(faults, 0, result);
    ASSERT_EQ(result.code, EXIT_OK) << "the good run fails";
    ASSERT_EQ(Outside(), before);
  }
  ASSERT_NO_FATAL_FAILURE(PrepareClientState());
  // The cabinet library's allocations, made through the stub's memory callbacks (which pass them
  // straight on), are its own to handle: Wine 8.0's inflate writes through a Huffman table it
  // could not allocate and takes the process down (fdi_Zipinflate_codes).
  if (HMODULE cabinet = GetModuleHandleW(L"cabinet.dll")) faults.ExcludeCallsFrom(cabinet);
  const size_t handles_before_good = OpenHandles();
  const Plan good = Run(faults, 0, result);
  ASSERT_EQ(result.code, EXIT_OK);
  ASSERT_EQ(OpenHandles(), handles_before_good) << "the good run leaks a handle";
  const uint32_t calls = good.calls;
  ASSERT_GT(calls, 0u);

  std::map<uint32_t, uint32_t> by_code;
  std::map<std::string, std::set<uint32_t>> codes_by_function;
  for (uint32_t n = 1; n <= calls; ++n) {
    ASSERT_NO_FATAL_FAILURE(PrepareClientState());
    const size_t handles = OpenHandles();
    const Plan plan = Run(faults, n, result);
    // Observed before any assertion prints: a first failure message may open handles of its own.
    const size_t handles_after = OpenHandles();
    const std::vector<std::wstring> outside = Outside();
    const std::string failed = plan.failed.empty() ? "(none)" : plan.failed;
    SCOPED_TRACE(testing::Message() << "call " << n << " of " << calls << ": " << failed);
    ++by_code[result.code];
    codes_by_function[failed].insert(result.code);
    // A run that took another way may make fewer calls; one that reached n failed the nth.
    if (plan.calls >= n) EXPECT_FALSE(plan.failed.empty());

    // A code of the exit-code table, or the sample setup program's 0.
    EXPECT_NE(ExitCodeName(result.code), nullptr) << "code " << result.code;
    // Where the extra is the Windows error of the call that failed, it is the injected one,
    // carried from the failing line to the result.
    const bool extra_is_the_error =
        result.code == EXIT_SETUP_KEY_UNREADABLE || result.code == EXIT_WORK_DIR_SECURITY_FAILED ||
        ((result.code == EXIT_ARCHIVE_UNPACK_FAILED || result.code == EXIT_SETUP_WRITE_FAILED) &&
         (failed == "CreateFileW" || failed == "ReOpenFile" || failed == "WriteFile")) ||
        (result.code == EXIT_SETUP_LAUNCH_FAILED && failed == "CreateProcessW");
    if (extra_is_the_error) EXPECT_EQ(result.extra, plan.failed_error);
    EXPECT_EQ(handles_after, handles) << "a handle leaked";
    EXPECT_EQ(outside, before) << "something was left or written outside the work directory";

    // The record, as the run sequence makes it: none for a run that ended before its work
    // directory; otherwise the failure (or a success's retry count), unless the failed call was
    // one of the record's own, in which case what was written must still be right. The record
    // is the run's last opening of the client-state key.
    const auto last_open = std::find_if(plan.log.rbegin(), plan.log.rend(), [](const char* call) {
      return std::string(call) == "RegOpenKeyExW";
    });
    const bool report_hit = IsRegistryCall(failed) && last_open != plan.log.rend() &&
                            n >= static_cast<uint32_t>(plan.log.rend() - last_open);
    const uint32_t recorded_result = state_.Dword(kInstallerResultValue);
    const uint32_t recorded_error = state_.Dword(kInstallerErrorValue);
    const uint32_t recorded_extra = state_.Dword(kInstallerExtraCode1Value);
    if (EndsBeforeTheWorkDirectory(result.code)) {
      EXPECT_EQ(recorded_result, kNone);
      EXPECT_EQ(recorded_extra, kNone);
      EXPECT_EQ(state_.Text(kApValue), L"") << "tagged before the work directory existed";
    } else if (result.code == EXIT_OK) {
      EXPECT_EQ(recorded_result, kNone);
      if (!report_hit || recorded_extra != kNone) {
        EXPECT_EQ(recorded_extra >> 16, 3u) << std::hex << recorded_extra;
        EXPECT_LT(recorded_extra & 0xFFFF, 100u);
      }
    } else if (!report_hit) {
      EXPECT_EQ(recorded_result, 1u);
      EXPECT_EQ(recorded_error, result.code);
      EXPECT_EQ(recorded_extra, result.extra);
    } else {
      // A record is never left half made: a result flag stands only with its code and extra.
      if (recorded_result != kNone) {
        EXPECT_EQ(recorded_result, 1u);
        EXPECT_EQ(recorded_error, result.code);
        EXPECT_EQ(recorded_extra, result.extra);
      }
    }
    if (!EndsBeforeTheWorkDirectory(result.code) && !IsRegistryCall(failed)) {
      EXPECT_EQ(state_.Text(kApValue), L"-full");
    }
    if (HasFatalFailure()) return;
  }

  std::printf("[ sweep ] %s: %u calls swept (%u functions redirected)\n", GetParam().name, calls,
              faults.Swept());
  std::printf("[ sweep ] %s outcomes:", GetParam().name);
  for (const auto& [code, count] : by_code) std::printf(" %u x%u", code, count);
  std::printf("\n");
  std::map<std::string, uint32_t> per_function;
  for (const char* call : good.log) ++per_function[call];
  for (const auto& [function, count] : per_function) {
    std::printf("[ sweep ] %s   %-52s x%-3u ->", GetParam().name, function.c_str(), count);
    for (uint32_t code : codes_by_function[function]) std::printf(" %u", code);
    std::printf("\n");
  }
}

// The file a run removes early (the cabinet right after its expansion, the patch right after the
// patch run) is held for its first two deletion attempts by someone else, played through the
// removal's seam with the waits counted instead of slept. A successful run records its retries:
// those two, although every removal of the final clean-up succeeds at once. An installer without
// an early removal records none.
const wchar_t* g_held_name = nullptr;
int g_held_opens = 0;
HANDLE WINAPI HeldForTwoAttempts(LPCWSTR path, DWORD access, DWORD share,
                                 LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                 HANDLE model) {
  const std::wstring name(path);
  const size_t length = wcslen(g_held_name);
  if (access == DELETE && name.size() >= length &&
      name.compare(name.size() - length, length, g_held_name) == 0 && ++g_held_opens <= 2) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }
  return CreateFileW(path, access, share, security, disposition, flags, model);
}
int g_waits = 0;
void WINAPI CountWait(DWORD) { ++g_waits; }

TEST_P(FaultSweep, EarlyRemovalsCountInTheRecordedRetries) {
  const std::string name = GetParam().name;
  g_held_name = name == "BL" ? L"SETUP.EX_" : name == "B7" ? L"SETUP.PATCH" : L"no such file";
  g_held_opens = 0;
  g_waits = 0;
  g_removal_calls = {};
  g_removal_calls.create_file = &HeldForTwoAttempts;
  g_removal_calls.sleep = &CountWait;
  ASSERT_NO_FATAL_FAILURE(PrepareClientState());
  cabinet_library = CabinetLibrary{};
  SetCurrentDirectoryW(current_dir_.c_str());
  const ExitResult result = InstallerMain(module_);
  SetCurrentDirectoryW(previous_dir_.c_str());
  g_removal_calls = {};
  EXPECT_EQ(result.code, EXIT_OK);
  const bool early = name != "BN";
  EXPECT_EQ(g_waits, early ? 2 : 0);
  EXPECT_EQ(state_.Dword(kInstallerExtraCode1Value), early ? 0x30002u : 0x30000u);
  EXPECT_EQ(Outside(), std::vector<std::wstring>({L"current", L"inst", L"inst\\installer.dll"}));
}

INSTANTIATE_TEST_SUITE_P(Installers, FaultSweep, ::testing::ValuesIn(kInstallers),
                         [](const ::testing::TestParamInfo<Installer>& info) {
                           return std::string(info.param.name);
                         });

// The injection itself: the nth counted call fails as documented and once, every original is back
// when the scoped object is gone, and nothing is counted while unarmed. The compiler may keep an
// import's address for the length of one function, so the calls go through functions of their
// own, as the stub's steps do.
void* CreateFileSlot() { return ImportRedirect::Current("kernel32.dll", "CreateFileW"); }
__attribute__((noinline)) HANDLE OpenProbe(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                     FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}
__attribute__((noinline)) void CloseProbe(HANDLE file) { CloseHandle(file); }

TEST(FaultInjection, FailsTheNthCallOnceAndPutsEverythingBack) {
  void* const real_create = CreateFileSlot();
  ASSERT_NE(real_create, nullptr);
  wchar_t temp[MAX_PATH + 1];
  ASSERT_NE(GetTempPathW(MAX_PATH + 1, temp), 0u);
  const std::wstring path = std::wstring(temp) + L"lumora-fault-probe";
  {
    FaultInjection faults;
    EXPECT_NE(CreateFileSlot(), real_create) << "the import slot holds the stand-in";
    std::vector<DWORD> errors;
    std::vector<bool> opened;
    const Plan plan = faults.Run(2, [&] {
      for (int i = 0; i < 3; ++i) {
        SetLastError(0);
        HANDLE file = OpenProbe(path);
        errors.push_back(GetLastError());
        opened.push_back(file != INVALID_HANDLE_VALUE);
        if (file != INVALID_HANDLE_VALUE) CloseProbe(file);
      }
    });
    // Three opens and three closes were counted; the second call, the first close, was done and
    // then reported failed, and every open succeeded.
    EXPECT_EQ(plan.calls, 6u);
    EXPECT_EQ(plan.failed, "CloseHandle");
    EXPECT_EQ(opened, std::vector<bool>({true, true, true}));
    const Plan second = faults.Run(3, [&] {
      for (int i = 0; i < 2; ++i) {
        SetLastError(0);
        HANDLE file = OpenProbe(path);
        if (i == 1) {
          EXPECT_EQ(file, INVALID_HANDLE_VALUE) << "the third call, the second open, fails";
          EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        }
        if (file != INVALID_HANDLE_VALUE) CloseProbe(file);
      }
    });
    EXPECT_EQ(second.calls, 3u);
    EXPECT_EQ(second.failed, "CreateFileW");
    HANDLE unarmed = OpenProbe(path);
    EXPECT_NE(unarmed, INVALID_HANDLE_VALUE) << "nothing fails while unarmed";
    CloseProbe(unarmed);
  }
  EXPECT_EQ(CreateFileSlot(), real_create) << "the original is back";
}

}  // namespace
