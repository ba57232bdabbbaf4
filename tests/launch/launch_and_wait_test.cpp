#include "launch/launch_and_wait.h"

#include <gtest/gtest.h>

#include <string>

#include "launch/launch_calls.h"
#include "launch/sample_setup_record.h"
#include "support/handles.h"

namespace {

using launch_test::SetPath;
using launch_test::SetupRecord;
using launch_test::SetupRun;

// Distinct from each other and from every code a test child exits with, so that a result names
// the column of the failure table it came from.
constexpr uint32_t kFileNotFound = 201;
constexpr uint32_t kPathNotFound = 202;
constexpr uint32_t kOther = 203;

ExitResult Launch(const std::wstring& program, const std::wstring& command) {
  PathBuffer program_buffer;
  SetPath(program_buffer, program);
  CommandBuffer command_buffer;
  EXPECT_TRUE(CopyBounded(command_buffer.text, command_buffer.capacity, command.c_str()));
  return LaunchAndWait(program_buffer, command_buffer, kFileNotFound, kPathNotFound, kOther);
}

std::wstring Hex(uint32_t value) {
  wchar_t text[16];
  swprintf(text, 16, L"0x%X", value);
  return text;
}

TEST(LaunchAndWait, ExitCodesComeBackWholeFromAHiddenChild) {
  ScratchDirectory scratch;
  SetupRecord record(scratch);
  const std::wstring sample = launch_test::SampleSetupPath();
  const uint32_t codes[] = {0, 7, 107, 122, 255, 256, 0x80000001u, 0xC0000135u, 0xFFFFFFFEu};
  for (const uint32_t code : codes) {
    SCOPED_TRACE(code);
    record.Clear();
    const std::wstring command = L"\"" + sample + L"\" --test-exit-code=" + Hex(code);
    const ExitResult result = Launch(sample, command);
    EXPECT_EQ(result.code, code);
    EXPECT_EQ(result.extra, 0u);
    const std::vector<SetupRun> runs = record.Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].command, L"command=" + command);
    launch_test::ExpectHiddenInheritingRun(runs[0]);
  }
}

TEST(LaunchAndWait, FailuresToStartNameTheirColumn) {
  ScratchDirectory scratch;
  SetupRecord record(scratch);
  const std::wstring not_a_program = scratch.Path() + L"text.exe";
  ASSERT_TRUE(ScratchDirectory::WriteFile(not_a_program, "this is text, not an executable image\r\n"));
  struct Case {
    const char* what;
    std::wstring program;
    ExitResult expected;
  };
  const Case cases[] = {
      {"missing file", scratch.Path() + L"missing.exe", {kFileNotFound, INVALID_FILE_ATTRIBUTES}},
      {"missing directory", scratch.Path() + L"no-such-dir\\setup.exe",
       {kPathNotFound, INVALID_FILE_ATTRIBUTES}},
      {"not an executable", not_a_program, {kOther, ERROR_BAD_EXE_FORMAT}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ExitResult result = Launch(c.program, L"\"" + c.program + L"\" --test-exit-code=9");
    EXPECT_EQ(result.code, c.expected.code);
    EXPECT_EQ(result.extra, c.expected.extra);
  }
  EXPECT_TRUE(record.Runs().empty());
}

// What the creation is handed cannot all be seen from inside the child (handle inheritance, the
// STARTUPINFOW): a pass-through fake writes it down and starts the child for real.
struct CreationArguments {
  const wchar_t* application = nullptr;
  wchar_t* command_line = nullptr;
  bool security_attributes = true;
  BOOL inherit_handles = TRUE;
  DWORD flags = 0;
  void* environment = reinterpret_cast<void*>(1);
  const wchar_t* directory = L"unset";
  STARTUPINFOW startup = {};
  PROCESS_INFORMATION information_before = {};
  HANDLE thread = nullptr;
  HANDLE process = nullptr;
};
CreationArguments g_seen;
DWORD g_flags_override = 0;
bool g_override_flags = false;

BOOL WINAPI RecordingCreateProcess(LPCWSTR application, LPWSTR command_line,
                                   LPSECURITY_ATTRIBUTES process_attributes,
                                   LPSECURITY_ATTRIBUTES thread_attributes, BOOL inherit_handles,
                                   DWORD flags, LPVOID environment, LPCWSTR directory,
                                   LPSTARTUPINFOW startup, LPPROCESS_INFORMATION information) {
  g_seen.application = application;
  g_seen.command_line = command_line;
  g_seen.security_attributes = process_attributes != nullptr || thread_attributes != nullptr;
  g_seen.inherit_handles = inherit_handles;
  g_seen.flags = flags;
  g_seen.environment = environment;
  g_seen.directory = directory;
  g_seen.startup = *startup;
  g_seen.information_before = *information;
  const BOOL created = CreateProcessW(application, command_line, process_attributes,
                                      thread_attributes, inherit_handles,
                                      g_override_flags ? g_flags_override : flags, environment,
                                      directory, startup, information);
  g_seen.thread = information->hThread;
  g_seen.process = information->hProcess;
  return created;
}

TEST(LaunchAndWait, CreatesTheChildWithExactlyTheseArguments) {
  ScratchDirectory scratch;
  SetupRecord record(scratch);
  const std::wstring sample = launch_test::SampleSetupPath();
  PathBuffer program;
  SetPath(program, sample);
  CommandBuffer command;
  ASSERT_TRUE(CopyBounded(command.text, command.capacity, (L"\"" + sample + L"\"").c_str()));
  g_seen = CreationArguments();
  g_launch_calls.create_process = RecordingCreateProcess;
  const ExitResult result = LaunchAndWait(program, command, kFileNotFound, kPathNotFound, kOther);
  g_launch_calls.create_process = nullptr;

  EXPECT_EQ(result.code, 0u);
  EXPECT_EQ(g_seen.application, program.text);
  EXPECT_EQ(g_seen.command_line, command.text) << "the caller's writable buffer itself";
  EXPECT_FALSE(g_seen.security_attributes);
  EXPECT_EQ(g_seen.inherit_handles, FALSE);
  EXPECT_EQ(g_seen.flags, static_cast<DWORD>(CREATE_NO_WINDOW));
  EXPECT_EQ(g_seen.environment, nullptr);
  EXPECT_EQ(g_seen.directory, nullptr);
  static_assert(sizeof(STARTUPINFOW) == 104, "the record's size on 64-bit Windows");
  STARTUPINFOW zero_but_size = {};
  zero_but_size.cb = sizeof(zero_but_size);
  EXPECT_EQ(memcmp(&g_seen.startup, &zero_but_size, sizeof(zero_but_size)), 0);
  const PROCESS_INFORMATION zero_information = {};
  EXPECT_EQ(memcmp(&g_seen.information_before, &zero_information, sizeof(zero_information)), 0);
  EXPECT_FALSE(HandleIsOpen(g_seen.thread));
  EXPECT_FALSE(HandleIsOpen(g_seen.process));
}

// Shows that the console probe of the sample setup program can fail: started without
// CREATE_NO_WINDOW by this console-less test program, the same child reports no hidden console.
TEST(LaunchAndWait, ConsoleProbeTellsAMissingCreateNoWindow) {
  ScratchDirectory scratch;
  SetupRecord record(scratch);
  const std::wstring sample = launch_test::SampleSetupPath();
  g_override_flags = true;
  g_flags_override = 0;
  g_launch_calls.create_process = RecordingCreateProcess;
  const ExitResult result = Launch(sample, L"\"" + sample + L"\"");
  g_launch_calls.create_process = nullptr;
  g_override_flags = false;
  EXPECT_EQ(result.code, 0u);
  const std::vector<SetupRun> runs = record.Runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_NE(runs[0].console, L"console=hidden");
}

// A program file that exists but cannot be started for want of something else (Windows reports
// ERROR_FILE_NOT_FOUND for a missing piece of the image too) is not reproducible under Wine; the
// fake fails the creation with a chosen error, and the extra must carry the file's real attributes.
DWORD g_creation_error = 0;
BOOL WINAPI FailingCreateProcess(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                                 BOOL, DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW,
                                 LPPROCESS_INFORMATION) {
  SetLastError(g_creation_error);
  return FALSE;
}

TEST(LaunchAndWait, ACreationErrorOnAnExistingFileCarriesItsAttributes) {
  ScratchDirectory scratch;
  const std::wstring program = scratch.Path() + L"present.exe";
  ASSERT_TRUE(ScratchDirectory::WriteFile(program, "present"));
  ASSERT_TRUE(SetFileAttributesW(program.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  struct Case {
    DWORD error;
    ExitResult expected;
  };
  const Case cases[] = {
      {ERROR_FILE_NOT_FOUND, {kFileNotFound, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE}},
      {ERROR_PATH_NOT_FOUND, {kPathNotFound, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE}},
      {ERROR_ACCESS_DENIED, {kOther, ERROR_ACCESS_DENIED}},
      {ERROR_INVALID_NAME, {kOther, ERROR_INVALID_NAME}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    g_creation_error = c.error;
    g_launch_calls.create_process = FailingCreateProcess;
    const ExitResult result = Launch(program, L"\"" + program + L"\"");
    g_launch_calls.create_process = nullptr;
    EXPECT_EQ(result.code, c.expected.code);
    EXPECT_EQ(result.extra, c.expected.extra);
  }
  SetFileAttributesW(program.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A failing wait cannot be provoked under Wine; these fakes let the real call finish first, so the
// child has exited, and then report the failure.
DWORD g_fake_error = 0;
HANDLE g_waited_on = nullptr;
DWORD WINAPI FailingWait(HANDLE process, DWORD timeout) {
  g_waited_on = process;
  WaitForSingleObject(process, timeout);
  SetLastError(g_fake_error);
  return WAIT_FAILED;
}
DWORD WINAPI TimedOutWait(HANDLE process, DWORD timeout) {
  g_waited_on = process;
  WaitForSingleObject(process, timeout);
  SetLastError(g_fake_error);
  return WAIT_TIMEOUT;
}
BOOL WINAPI FailingExitCode(HANDLE process, LPDWORD code) {
  g_waited_on = process;
  *code = 77;
  SetLastError(g_fake_error);
  return FALSE;
}

TEST(LaunchAndWait, AFailedWaitGives107WithTheErrorAndClosesTheProcess) {
  ScratchDirectory scratch;
  SetupRecord record(scratch);
  const std::wstring sample = launch_test::SampleSetupPath();
  struct Case {
    const char* what;
    DWORD(WINAPI* wait)(HANDLE, DWORD);
    BOOL(WINAPI* exit_code)(HANDLE, LPDWORD);
    DWORD error;
  };
  const Case cases[] = {
      {"WAIT_FAILED", FailingWait, nullptr, ERROR_INVALID_HANDLE},
      {"any other wait result", TimedOutWait, nullptr, ERROR_TIMEOUT},
      {"GetExitCodeProcess fails", nullptr, FailingExitCode, ERROR_ACCESS_DENIED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    g_fake_error = c.error;
    g_waited_on = nullptr;
    g_launch_calls.wait_for_single_object = c.wait;
    g_launch_calls.get_exit_code_process = c.exit_code;
    const ExitResult result = Launch(sample, L"\"" + sample + L"\" --test-exit-code=5");
    g_launch_calls.wait_for_single_object = nullptr;
    g_launch_calls.get_exit_code_process = nullptr;
    EXPECT_EQ(result.code, EXIT_WAIT_FAILED);
    EXPECT_EQ(result.extra, c.error);
    ASSERT_NE(g_waited_on, nullptr);
    EXPECT_FALSE(HandleIsOpen(g_waited_on));
  }
}

}  // namespace
