#include "launch/launch_and_wait.h"

#include "base/bounded_string.h"
#include "base/freestanding_runtime.h"
#include "base/owner.h"
#include "base/platform_call.h"
#include "launch/launch_calls.h"

LaunchCalls g_launch_calls = {};

ExitResult StartFailure(const PathBuffer& program, uint32_t error, uint32_t code_file_not_found,
                        uint32_t code_path_not_found, uint32_t code_other) {
  if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return {code_other, error};
  // The attributes tell a missing program file (INVALID_FILE_ATTRIBUTES) from a present one
  // that the system could still not start because something it needs is missing.
  return {error == ERROR_FILE_NOT_FOUND ? code_file_not_found : code_path_not_found,
          GetFileAttributesW(program.text)};
}

ExitResult LaunchAndWait(const PathBuffer& program, CommandBuffer& command,
                         uint32_t code_file_not_found, uint32_t code_path_not_found,
                         uint32_t code_other) {
  const LaunchCalls& calls = g_launch_calls;
  STARTUPINFOW startup;
  FillBytes(&startup, 0, sizeof(startup));
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION created;
  FillBytes(&created, 0, sizeof(created));

  // No environment block and no directory: the setup program sees what the installer sees.
  // CREATE_NO_WINDOW alone: a console setup program gets a console, but never a window.
  const BOOL started = PlatformCall(calls.create_process, &CreateProcessW)(
      program.text, command.text, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
      &startup, &created);
  if (!started) {
    return StartFailure(program, GetLastError(), code_file_not_found, code_path_not_found,
                        code_other);
  }
  // The thread handle is of no use to the installer.
  KernelHandle(created.hThread).Reset();
  KernelHandle process(created.hProcess);

  const DWORD waited =
      PlatformCall(calls.wait_for_single_object, &WaitForSingleObject)(process.Get(), INFINITE);
  if (waited != WAIT_OBJECT_0) return {EXIT_WAIT_FAILED, GetLastError()};
  DWORD exit_code = 0;
  if (!PlatformCall(calls.get_exit_code_process, &GetExitCodeProcess)(process.Get(),
                                                                      &exit_code)) {
    return {EXIT_WAIT_FAILED, GetLastError()};
  }
  return {exit_code, 0};
}
