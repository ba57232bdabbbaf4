// Starting a program of the tests (the installer, the sample setup program, a helper that holds a
// file) as a child process, and reading back its whole 32-bit exit code.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <stdint.h>

#include <string>

// What Wait gives for a child that never started.
inline constexpr uint32_t kNoExitCode = 0xFFFFFFFFu;

class ChildProcess {
 public:
  // Runs program (a full path) with the command line "PROGRAM" ARGUMENTS, inheriting this
  // process's environment unless environment is a block for CreateProcessW, and its current
  // directory unless directory is given; its standard output and error go to output when it is
  // given (an inheritable handle). A child that cannot start is a test failure.
  ChildProcess(const std::wstring& program, const std::wstring& arguments,
               const std::wstring* environment = nullptr, const std::wstring& directory = L"",
               HANDLE output = nullptr) {
    std::wstring command = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    std::wstring block = environment != nullptr ? *environment : L"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (output != nullptr) {
      startup.dwFlags = STARTF_USESTDHANDLES;
      startup.hStdOutput = output;
      startup.hStdError = output;
    }
    PROCESS_INFORMATION created = {};
    // Under load, Wine now and then fails to start a program that was written a moment before,
    // with ERROR_INTERNAL_ERROR; Windows has no such failure, and a second start succeeds.
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 3; ++attempt) {
      if (CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, output != nullptr,
                         environment != nullptr ? CREATE_UNICODE_ENVIRONMENT : 0,
                         environment != nullptr ? &block[0] : nullptr,
                         directory.empty() ? nullptr : directory.c_str(), &startup, &created)) {
        error = ERROR_SUCCESS;
        break;
      }
      error = GetLastError();
      if (error != ERROR_INTERNAL_ERROR) break;
      Sleep(200);
    }
    if (error != ERROR_SUCCESS) {
      ADD_FAILURE() << "cannot start the child: error " << error;
      return;
    }
    CloseHandle(created.hThread);
    process_ = created.hProcess;
    started_ = true;
  }
  ~ChildProcess() { Wait(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return started_; }
  // Null once the child has been waited for.
  HANDLE Handle() const { return process_; }

  // Waits for the child's end, once; its exit code, or kNoExitCode when it never started.
  uint32_t Wait() {
    if (process_ == nullptr) return exit_code_;
    WaitForSingleObject(process_, INFINITE);
    DWORD code = kNoExitCode;
    GetExitCodeProcess(process_, &code);
    CloseHandle(process_);
    process_ = nullptr;
    exit_code_ = code;
    return exit_code_;
  }

 private:
  HANDLE process_ = nullptr;
  bool started_ = false;
  uint32_t exit_code_ = kNoExitCode;
};

// Runs the child to its end and returns its exit code.
inline uint32_t RunChild(const std::wstring& program, const std::wstring& arguments,
                         const std::wstring* environment = nullptr,
                         const std::wstring& directory = L"") {
  return ChildProcess(program, arguments, environment, directory).Wait();
}
