// What the launch tests share: the record that tools/sample_setup writes for every run (one line
// per run: console, echo, dir, command).
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/bounded_string.h"
#include "support/scratch_directory.h"

namespace launch_test {

inline std::wstring SampleSetupPath() { return LUMORA_SAMPLE_SETUP; }

inline void SetPath(PathBuffer& buffer, const std::wstring& text) {
  ASSERT_TRUE(CopyBounded(buffer.text, buffer.capacity, text.c_str())) << "test path too long";
}

struct SetupRun {
  std::wstring console;
  std::wstring echo;
  std::wstring dir;
  std::wstring command;
};

// Points LUMORA_SETUP_TEST_RECORD (and LUMORA_SETUP_ECHO) of this process, and so of every child it
// starts, at a fresh record file; both variables are removed afterwards.
class SetupRecord {
 public:
  explicit SetupRecord(const ScratchDirectory& directory)
      : path_(directory.Path() + L"setup-record.txt") {
    DeleteFileW(path_.c_str());
    SetEnvironmentVariableW(L"LUMORA_SETUP_TEST_RECORD", path_.c_str());
    SetEnvironmentVariableW(L"LUMORA_SETUP_ECHO", L"inherited \x00e9nvironment");
  }
  ~SetupRecord() {
    SetEnvironmentVariableW(L"LUMORA_SETUP_TEST_RECORD", nullptr);
    SetEnvironmentVariableW(L"LUMORA_SETUP_ECHO", nullptr);
  }
  SetupRecord(const SetupRecord&) = delete;
  SetupRecord& operator=(const SetupRecord&) = delete;

  void Clear() const { DeleteFileW(path_.c_str()); }

  std::vector<SetupRun> Runs() const {
    std::vector<SetupRun> runs;
    HANDLE file = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return runs;
    std::string bytes;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0) bytes.append(chunk, read);
    CloseHandle(file);
    std::wstring text(bytes.size(), L'\0');
    text.resize(static_cast<size_t>(MultiByteToWideChar(
        CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0],
        static_cast<int>(text.size()))));
    size_t start = 0;
    while (start < text.size()) {
      const size_t end = text.find(L'\n', start);
      const std::wstring line = text.substr(start, end - start);
      start = end == std::wstring::npos ? text.size() : end + 1;
      SetupRun run;
      const size_t t1 = line.find(L'\t');
      const size_t t2 = line.find(L'\t', t1 + 1);
      const size_t t3 = line.find(L'\t', t2 + 1);
      run.console = line.substr(0, t1);
      run.echo = line.substr(t1 + 1, t2 - t1 - 1);
      run.dir = line.substr(t2 + 1, t3 - t2 - 1);
      run.command = line.substr(t3 + 1);
      runs.push_back(run);
    }
    return runs;
  }

 private:
  std::wstring path_;
};

inline std::wstring CurrentDirectory() {
  wchar_t directory[MAX_PATH + 1] = {};
  GetCurrentDirectoryW(MAX_PATH + 1, directory);
  return directory;
}

// The fields every run of the sample setup program must show when the installer started it.
inline void ExpectHiddenInheritingRun(const SetupRun& run) {
  EXPECT_EQ(run.console, L"console=hidden") << "CREATE_NO_WINDOW: a console without a window";
  EXPECT_EQ(run.echo, L"echo=inherited \x00e9nvironment") << "environment inherited";
  EXPECT_EQ(run.dir, L"dir=" + CurrentDirectory()) << "current directory inherited";
}

}  // namespace launch_test
