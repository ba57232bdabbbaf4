// What the whole-run tests share: the updater's client-state key, fresh directories under the
// run root, starting an installer image and reading back its exit code, what the sample setup
// program recorded and what was left beside the installer.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/client_state_key.h"

namespace installer_runs {

namespace fs = std::filesystem;

// The key of the default channel, where every run without a channel switch reports.
inline const std::wstring kClientState = std::wstring(kClientStateKeyPrefix) + kDefaultAppId;
inline constexpr wchar_t kVelmar[] = L"Software\\Velmar";
inline constexpr uint32_t kNone = 0xFFFFFFFFu;  // what Dword() reads for an absent value
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

struct ClientState {
  HKEY root = HKEY_CURRENT_USER;

  void Erase() const {
    RegDeleteTreeW(root, kClientState.c_str());  // HKCU is shared by both views
    HKEY velmar;
    if (RegOpenKeyExW(root, L"Software", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, &velmar) ==
        ERROR_SUCCESS) {
      RegDeleteTreeW(velmar, kClientState.substr(std::wstring(L"Software\\").size()).c_str());
      RegCloseKey(velmar);
    }
  }
  HKEY Open(REGSAM access) const {
    HKEY key = nullptr;
    RegCreateKeyExW(root, kClientState.c_str(), 0, nullptr, 0, access | KEY_WOW64_32KEY, nullptr, &key,
                    nullptr);
    return key;
  }
  bool Exists() const {
    HKEY key;
    if (RegOpenKeyExW(root, kClientState.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS) {
      return false;
    }
    RegCloseKey(key);
    return true;
  }
  void SetString(const wchar_t* name, const std::wstring& text) const {
    HKEY key = Open(KEY_SET_VALUE);
    ASSERT_NE(key, nullptr);
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * 2));
    RegCloseKey(key);
  }
  void SetDword(const wchar_t* name, DWORD value) const {
    HKEY key = Open(KEY_SET_VALUE);
    ASSERT_NE(key, nullptr);
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
    RegCloseKey(key);
  }
  std::wstring String(const wchar_t* name) const {
    wchar_t buffer[600] = {};
    DWORD bytes = sizeof(buffer) - 2;
    DWORD type = 0;
    HKEY key;
    if (RegOpenKeyExW(root, kClientState.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS) {
      return L"(no key)";
    }
    const LSTATUS status =
        RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return L"(absent)";
    return type == REG_SZ ? std::wstring(buffer) : L"(not a string)";
  }
  uint32_t Dword(const wchar_t* name) const {
    DWORD value = 0;
    DWORD bytes = 4;
    DWORD type = 0;
    HKEY key;
    if (RegOpenKeyExW(root, kClientState.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS) {
      return kNone;
    }
    const LSTATUS status =
        RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_DWORD ? value : kNone;
  }
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

inline std::vector<std::wstring> ListTree(const std::wstring& dir) {
  std::vector<std::wstring> names;
  for (const auto& entry : fs::recursive_directory_iterator(fs::path(dir))) {
    names.push_back(fs::relative(entry.path(), fs::path(dir)).wstring());
  }
  std::sort(names.begin(), names.end());
  return names;
}

inline HANDLE Start(const std::wstring& image_copy, const std::wstring& arguments) {
  std::wstring command = L"\"" + image_copy + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(image_copy.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    ADD_FAILURE() << "cannot start " << fs::path(image_copy).string() << ": " << GetLastError();
    return nullptr;
  }
  CloseHandle(process.hThread);
  return process.hProcess;
}

inline uint32_t Finish(HANDLE process) {
  if (process == nullptr) return kNone;
  WaitForSingleObject(process, INFINITE);
  DWORD code = kNone;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return code;
}

inline RunOutcome RunImage(const std::string& image, const std::wstring& dir, const std::wstring& arguments) {
  const std::wstring copy = dir + kInstallerName;
  EXPECT_TRUE(CopyFileW((std::wstring(LUMORA_RUN_IMAGES) + L"\\" + Widen(image) + L".exe").c_str(),
                        copy.c_str(), FALSE))
      << image;
  const std::wstring record = RunRoot() + L"\\record.txt";
  DeleteFileW(record.c_str());
  SetEnvironmentVariableW(L"LUMORA_SETUP_RECORD", record.c_str());
  RunOutcome run;
  run.exit_code = Finish(Start(copy, arguments));
  SetEnvironmentVariableW(L"LUMORA_SETUP_RECORD", nullptr);
  run.setup_commands = ReadRecord(record);
  for (const std::wstring& name : ListTree(dir)) {
    if (name != kInstallerName) run.left_over.push_back(name);
  }
  return run;
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
inline bool WineFailedToStartAFreshProgram(const RunOutcome& run, const ClientState& state) {
  return (run.exit_code == 121 || run.exit_code == 124) &&
         state.Dword(kInstallerExtraCode1Value) == ERROR_INTERNAL_ERROR;
}

inline std::vector<uint8_t> ReadAll(const std::wstring& path) {
  std::ifstream file{fs::path(path), std::ios::binary};
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

}  // namespace installer_runs
