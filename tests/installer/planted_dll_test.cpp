// DLLs planted beside the installer, as anyone can leave them in a downloads folder. Each planted
// DLL is a canary (planted/canary_dll.cpp) that writes down that it was loaded, and Wine is told
// to prefer a native DLL under each planted name, so that a planted file is loaded wherever the
// search reaches it. The preference is set per program, under
// HKCU\Software\Wine\AppDefaults\<program>\DllOverrides: WINEDLLOVERRIDES in the environment
// block of a child that a Windows program starts took effect under Wine 8.0 for some names only
// (shcore, not msvcrt or user32), while the registry keys take effect for all.
//
// Wine has no KnownDLLs and ignores the image's DependentLoadFlags: its start-up loads some DLLs
// that the installer's imports depend on from the installer's folder before any code of ours runs.
// A baseline program with the installer's imports that exits at once measures that start-up under
// the same planted names; what the installer loads must be no more than that. What Windows does
// at start-up (KnownDLLs, DependentLoadFlags) cannot be seen here: docs/security.md.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "installer/run/installer_runs.h"

namespace {

using namespace installer_runs;

// Every DLL that a run of the installer (with a cabinet, with a patch, and the setup program's
// launch) loads under Wine 8.0, as WINEDEBUG=+loaddll lists them, but kernel32 and kernelbase,
// which Wine never takes from anywhere but itself.
const std::vector<std::string> kRunNames = {
    "advapi32", "shell32", "sechost", "msvcrt", "ucrtbase", "user32", "gdi32",  "win32u",
    "shcore",   "shlwapi", "version", "imm32",  "zlib1",    "cabinet",
};

std::wstring Canary() { return std::wstring(LUMORA_PLANTED) + L"\\canary.dll"; }
std::wstring Baseline() { return std::wstring(LUMORA_PLANTED) + L"\\startup-baseline.exe"; }

std::string Join(const std::set<std::string>& names) {
  std::string all;
  for (const std::string& name : names) all += (all.empty() ? "" : ",") + name;
  return all.empty() ? "(none)" : all;
}

// The environment of this process with some variables replaced, as a block for CreateProcessW.
std::wstring EnvironmentWith(const std::map<std::wstring, std::wstring>& replaced) {
  std::wstring block;
  wchar_t* strings = GetEnvironmentStringsW();
  for (const wchar_t* entry = strings; *entry != 0; entry += wcslen(entry) + 1) {
    const std::wstring text = entry;
    const size_t equals = text.find(L'=', 1);
    std::wstring name = text.substr(0, equals);
    std::transform(name.begin(), name.end(), name.begin(), ::towupper);
    bool keep = true;
    for (const auto& [key, value] : replaced) {
      std::wstring upper = key;
      std::transform(upper.begin(), upper.end(), upper.begin(), ::towupper);
      if (upper == name) keep = false;
    }
    if (keep) block += text + L'\0';
  }
  FreeEnvironmentStringsW(strings);
  for (const auto& [key, value] : replaced) block += key + L"=" + value + L'\0';
  return block + L'\0';
}

uint32_t RunWith(const std::wstring& program, const std::wstring& arguments,
                 const std::map<std::wstring, std::wstring>& environment) {
  const std::wstring block = EnvironmentWith(environment);
  return RunChild(program, arguments, &block);
}

// The DLL names (lower case, without ".dll") that canaries recorded.
std::set<std::string> Loaded(const std::wstring& record) {
  std::set<std::string> names;
  std::ifstream file{std::filesystem::path(record)};
  std::string line;
  while (std::getline(file, line)) {
    std::string name = line.substr(0, line.find('\t'));
    std::transform(name.begin(), name.end(), name.begin(), ::tolower);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dll") == 0) name.resize(name.size() - 4);
    names.insert(name);
  }
  return names;
}

constexpr wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\";

// Wine loads a native DLL in place of its own under these names, for this program only.
void PreferNative(const std::wstring& program, const std::set<std::string>& planted) {
  const std::wstring program_key = kAppDefaults + program;
  RegDeleteTreeW(HKEY_CURRENT_USER, program_key.c_str());
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (program_key + L"\\DllOverrides").c_str(), 0,
                            nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  static const wchar_t kNativeFirst[] = L"native,builtin";
  for (const std::string& dll : planted) {
    RegSetValueExW(key, Widen(dll).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(kNativeFirst),
                   sizeof(kNativeFirst));
  }
  RegCloseKey(key);
}

void ForgetPreferences() {
  for (const wchar_t* program : {L"baseline.exe", L"inst.exe"}) {
    RegDeleteTreeW(HKEY_CURRENT_USER, (kAppDefaults + std::wstring(program)).c_str());
  }
}

class PlantedDlls : public testing::Test {
 protected:
  void SetUp() override {
    state_.Remove();
    SetCleanupSwitch(nullptr);
    ForgetPreferences();
  }
  void TearDown() override {
    state_.Remove();
    ForgetPreferences();
  }

  // A fresh folder holding a canary under each planted name, the baseline program and the
  // installed setup program that a patch needs.
  std::wstring PlantedFolder(const std::string& name, const std::set<std::string>& planted) {
    const std::wstring dir = FreshDirectory(name);
    for (const std::string& dll : planted) {
      EXPECT_TRUE(CopyFileW(Canary().c_str(), (dir + Widen(dll) + L".dll").c_str(), FALSE));
    }
    EXPECT_TRUE(CopyFileW(Baseline().c_str(), (dir + L"baseline.exe").c_str(), FALSE));
    InstallSetupProgram(dir);
    return dir;
  }

  // Runs program from dir with native DLLs preferred under the planted names, and returns what
  // the canaries recorded; the exit code goes to code.
  std::set<std::string> LoadedByRun(const std::wstring& dir, const std::wstring& program,
                                    const std::wstring& arguments,
                                    const std::set<std::string>& planted, uint32_t& code,
                                    std::map<std::wstring, std::wstring> environment = {}) {
    PreferNative(program, planted);
    const std::wstring record = RunRoot() + L"\\canaries.txt";
    DeleteFileW(record.c_str());
    environment[L"LUMORA_CANARY_RECORD"] = record;
    environment[L"LUMORA_SETUP_TEST_RECORD"] = RunRoot() + L"\\record.txt";
    code = RunWith(dir + program, arguments, environment);
    return Loaded(record);
  }

  // One whole run of an installer image copied into dir; the setup program's runs are counted.
  std::set<std::string> LoadedByInstaller(const std::wstring& dir, const char* image,
                                          const std::set<std::string>& planted, uint32_t& code,
                                          int& setup_runs,
                                          std::map<std::wstring, std::wstring> environment = {}) {
    EXPECT_TRUE(CopyFileW((std::wstring(LUMORA_RUN_IMAGES) + L"\\" + Widen(image) + L".exe").c_str(),
                          (dir + kInstallerName).c_str(), FALSE));
    const std::wstring setup_record = RunRoot() + L"\\record.txt";
    DeleteFileW(setup_record.c_str());
    std::set<std::string> loaded =
        LoadedByRun(dir, kInstallerName, L"", planted, code, std::move(environment));
    setup_runs = static_cast<int>(ReadRecord(setup_record).size());
    return loaded;
  }

  ClientState state_;
};

// Round by round: the baseline and the installer run beside the same canaries, and the installer
// may load no canary that the baseline does not. Under Wine a canary that start-up loads in place
// of a DLL the program calls into (shcore, which shell32's CommandLineToArgvW forwards to;
// win32u, which user32 initialises through) stops any program there, the baseline included; the
// next round plants every name but those, until the whole runs get through. Their planted names
// still include cabinet, the one the installer loads itself.
TEST_F(PlantedDlls, TheRunLoadsNoPlantedDllThatStartUpDoesNotAlsoLoad) {
  std::set<std::string> planted(kRunNames.begin(), kRunNames.end());
  bool completed = false;
  for (int round = 0; round < 6 && !completed; ++round) {
    SCOPED_TRACE(testing::Message() << "round " << round << ", planted " << Join(planted));
    const std::wstring dir = PlantedFolder("planted_round_" + std::to_string(round), planted);
    uint32_t baseline_code = 0;
    const std::set<std::string> startup =
        LoadedByRun(dir, L"baseline.exe", L"", planted, baseline_code);

    state_.Remove();
    ASSERT_TRUE(state_.SetText(kApValue, L""));
    ASSERT_TRUE(state_.SetText(kUninstallStringValue, dir + L"installed\\1.2.3.4\\setup.exe"));
    // A run that stops at a canary's missing export counts as stopped whatever its exit code
    // (Wine's debugger may end it with 0): a whole run is one whose setup programs ran.
    uint32_t cabinet_code = kNone;
    int cabinet_setups = 0;
    std::set<std::string> run =
        LoadedByInstaller(dir, "shipped_mszip", planted, cabinet_code, cabinet_setups);
    const bool cabinet_through = cabinet_code == 0 && cabinet_setups == 1;
    uint32_t patch_code = kNone;
    int patch_setups = 0;
    if (cabinet_through) {
      const std::set<std::string> patch_run =
          LoadedByInstaller(dir, "patch", planted, patch_code, patch_setups);
      run.insert(patch_run.begin(), patch_run.end());
    }
    completed = cabinet_through && patch_code == 0 && patch_setups == 2;
    std::printf("round %d: planted %s\n  start-up loads %s (baseline exit %u)\n"
                "  the runs load %s (exit %u with a cabinet, %u with a patch)\n",
                round, Join(planted).c_str(), Join(startup).c_str(), baseline_code,
                Join(run).c_str(), cabinet_code, patch_code);

    EXPECT_TRUE(std::includes(startup.begin(), startup.end(), run.begin(), run.end()))
        << "the run loads " << Join(run) << ", start-up alone " << Join(startup);
    EXPECT_EQ(run.count("cabinet"), 0u);
    if (completed) {
      // The whole runs got through with cabinet.dll still planted beside them.
      EXPECT_EQ(planted.count("cabinet"), 1u);
      for (const std::wstring& name : ListTree(dir)) {
        EXPECT_NE(name.rfind(L"LM_", 0), 0u) << "left behind: " << Narrow(name);
      }
    } else {
      ASSERT_FALSE(startup.empty()) << "a run stopped where start-up alone does not";
      for (const std::string& name : startup) planted.erase(name);
    }
  }
  EXPECT_TRUE(completed) << "no round let the whole runs through";
}

// The environment names where Windows is; it proves nothing, since whoever starts the installer
// sets it, also for an elevated one. With WINDIR and SYSTEMROOT pointing at a folder of canaries,
// the cabinet is still expanded by the system's own cabinet.dll.
TEST_F(PlantedDlls, WindirAndSystemrootDoNotChooseTheCabinetLibrary) {
  const std::set<std::string> planted = {"cabinet"};
  const std::wstring dir = PlantedFolder("planted_windir", {});
  const std::wstring windows = dir + L"windows";
  std::filesystem::create_directories(std::filesystem::path(windows + L"\\system32"));
  ASSERT_TRUE(CopyFileW(Canary().c_str(), (windows + L"\\system32\\cabinet.dll").c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(Canary().c_str(), (windows + L"\\cabinet.dll").c_str(), FALSE));
  ASSERT_TRUE(state_.SetText(kApValue, L""));
  uint32_t code = kNone;
  int setups = 0;
  const std::set<std::string> loaded =
      LoadedByInstaller(dir, "shipped_mszip", planted, code, setups,
                        {{L"WINDIR", windows}, {L"SYSTEMROOT", windows}});
  EXPECT_EQ(loaded, std::set<std::string>()) << Join(loaded);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(setups, 1) << "the setup program expanded from the cabinet ran";
  EXPECT_EQ(state_.Dword(kInstallerExtraCode1Value), 0x30000u);
}

}  // namespace
