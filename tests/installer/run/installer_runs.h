// What the whole-run tests share: the default channel's client-state key, fresh directories under
// the run root, running an installer image, what the sample setup program recorded and what was
// left beside the installer.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/client_state_key.h"
#include "support/child_process.h"
#include "support/client_state_scratch.h"
#include "support/scratch_directory.h"

namespace installer_runs {

namespace fs = std::filesystem;

inline constexpr wchar_t kVelmar[] = L"Software\\Velmar";
using scratch::kNone;
// Short, so that the deepest test directories still hold the installer.
inline constexpr wchar_t kInstallerName[] = L"inst.exe";

inline std::wstring Widen(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                    &wide[0], static_cast<int>(wide.size()));
  wide.resize(static_cast<size_t>(n));
  return wide;
}

// --- the updater's client-state key -------------------------------------------------------------

// The key of the default channel, where every run without a channel switch reports.
struct ClientState : scratch::ClientStateKey {
  explicit ClientState(bool system_level = false) : ClientStateKey(system_level, kDefaultAppId) {}
};

inline void SetCleanupSwitch(const wchar_t* value) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kVelmar, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  if (value == nullptr) {
    RegDeleteValueW(key, L"LumoraInstallerCleanup");
  } else {
    RegSetValueExW(key, L"LumoraInstallerCleanup", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>((wcslen(value) + 1) * 2));
  }
  RegCloseKey(key);
}

// --- running an image ---------------------------------------------------------------------------

inline std::wstring RunRoot() { return LUMORA_RUN_WORK; }

// A fresh, empty directory for one run, padded so that its path with a trailing backslash is
// exactly length units long when length is given.
inline std::wstring FreshDirectory(const std::string& name, size_t length = 0) {
  std::wstring dir = RunRoot() + L"\\" + Widen(name);
  std::error_code ignored;
  fs::remove_all(fs::path(dir), ignored);
  if (length != 0) {
    const size_t base = dir.size() + 1;  // with the backslash before the padding
    EXPECT_LT(base + 1, length) << "run root too long for this case";
    dir += L"\\" + std::wstring(length - base - 1, L'p');
  }
  fs::create_directories(fs::path(dir));
  return dir + L"\\";
}

struct RunOutcome {
  uint32_t exit_code = kNone;
  std::vector<std::wstring> setup_commands;  // one per run of the sample setup program
  std::vector<std::wstring> left_over;       // names left in the installer's directory
};

inline std::vector<std::wstring> ReadRecord(const std::wstring& path) {
  std::ifstream file{fs::path(path)};
  std::vector<std::wstring> commands;
  std::string line;
  while (std::getline(file, line)) {
    const size_t at = line.find("\tcommand=");
    if (at != std::string::npos) commands.push_back(Widen(line.substr(at + 9)));
  }
  return commands;
}

// Runs the installer already in dir under kInstallerName to its end, with the sample setup
// program recording its command lines; in the given current directory, else in this program's.
inline RunOutcome RunInstaller(const std::wstring& dir, const std::wstring& arguments,
                               const std::wstring& current_directory = L"") {
  const std::wstring installer = dir + kInstallerName;
  const std::wstring record = RunRoot() + L"\\record.txt";
  DeleteFileW(record.c_str());
  SetEnvironmentVariableW(L"LUMORA_SETUP_TEST_RECORD", record.c_str());
  RunOutcome run;
  run.exit_code = RunChild(installer, arguments, nullptr, current_directory);
  SetEnvironmentVariableW(L"LUMORA_SETUP_TEST_RECORD", nullptr);
  run.setup_commands = ReadRecord(record);
  for (const std::wstring& name : ListTree(dir)) {
    if (name != kInstallerName) run.left_over.push_back(name);
  }
  return run;
}

// Copies the run image (a name of run/payload_images.cmake) into dir as the installer and runs it.
inline RunOutcome RunImage(const std::string& image, const std::wstring& dir,
                           const std::wstring& arguments,
                           const std::wstring& current_directory = L"") {
  const std::wstring copy = dir + kInstallerName;
  EXPECT_TRUE(CopyFileW((std::wstring(LUMORA_RUN_IMAGES) + L"\\" + Widen(image) + L".exe").c_str(),
                        copy.c_str(), FALSE))
      << image;
  return RunInstaller(dir, arguments, current_directory);
}

inline std::string Narrow(const std::wstring& text) { return fs::path(text).u8string(); }
inline std::string Join(const std::vector<std::wstring>& names) {
  std::string all;
  for (const std::wstring& n : names) all += Narrow(n) + " ";
  return all;
}

// The work directory named in a setup command line, e.g. "...\LM_1A2B3.tmp\".
inline std::wstring WorkDirIn(const std::wstring& command, const std::wstring& dir) {
  const size_t at = command.find(dir + L"LM_");
  if (at == std::wstring::npos) return L"";
  return command.substr(at, dir.size() + 13);
}

inline std::wstring Replace(std::wstring text, const std::wstring& from, const std::wstring& to) {
  for (size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// The installed setup program, where the updater's "UninstallString" points.
inline void InstallSetupProgram(const std::wstring& dir) {
  fs::create_directories(fs::path(dir + L"installed\\1.2.3.4"));
  ASSERT_TRUE(CopyFileW(LUMORA_SAMPLE_SETUP, (dir + L"installed\\1.2.3.4\\setup.exe").c_str(), FALSE));
  std::ofstream(fs::path(dir + L"installed\\1.2.3.4\\readme.txt")) << "not a program\n";
}

// Under load, Wine now and then fails to start a program that was written a moment before,
// with ERROR_INTERNAL_ERROR; Windows has no such failure. Such a run says nothing about the
// installer, so it is run once more from a clean state.
inline bool WineFailedToStartAFreshProgram(const RunOutcome& run,
                                           const scratch::ClientStateKey& state) {
  return (run.exit_code == 121 || run.exit_code == 124) &&
         state.Dword(kInstallerExtraCode1Value) == ERROR_INTERNAL_ERROR;
}

}  // namespace installer_runs
