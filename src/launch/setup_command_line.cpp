#include "launch/setup_command_line.h"

#include "launch/launch_and_wait.h"

namespace {

bool IsBlank(wchar_t unit) { return unit == L' ' || unit == L'\t'; }

}  // namespace

void AppendInvocationTail(CommandBuffer& command, const wchar_t* command_line) {
  if (command_line == nullptr) return;
  const wchar_t* p = command_line;
  if (*p == L'"') {
    ++p;
    while (*p != 0 && *p != L'"') ++p;
    if (*p == 0) return;
    ++p;
  } else {
    // A quote inside an unquoted name protects nothing: the platform ends the name at the first
    // blank all the same.
    while (*p != 0 && !IsBlank(*p)) ++p;
  }
  if (*p == 0) return;
  if (!IsBlank(*p)) {
    // "C:\x.exe"--arg: the platform's own splitter reads a new argument here, so the setup
    // program must see a separator too.
    if (!AppendBounded(command.text, command.capacity, L" ")) return;
  }
  (void)AppendBounded(command.text, command.capacity, p);
}

ExitResult InstallWithSetup(const wchar_t* previous_version, const wchar_t* command_line,
                            const PathBuffer& archive_path, const PathBuffer& setup_path,
                            bool compressed_archive) {
  CommandBuffer command;
  wchar_t* const text = command.text;
  const uint32_t capacity = command.capacity;
  bool fits = CopyBounded(text, capacity, L"\"") &&
              AppendBounded(text, capacity, setup_path.text) &&
              AppendBounded(text, capacity, L"\"") &&
              AppendBounded(text, capacity, L" --") &&
              AppendBounded(text, capacity,
                            compressed_archive ? L"install-archive" : L"uncompressed-archive") &&
              AppendBounded(text, capacity, L"=\"") &&
              AppendBounded(text, capacity, archive_path.text) &&
              AppendBounded(text, capacity, L"\"");
  if (fits && previous_version != nullptr) {
    fits = AppendBounded(text, capacity, L" --") &&
           AppendBounded(text, capacity, L"previous-version") &&
           AppendBounded(text, capacity, L"=\"") &&
           AppendBounded(text, capacity, previous_version) &&
           AppendBounded(text, capacity, L"\"");
  }
  if (!fits) return {EXIT_COMMAND_LINE_TOO_LONG, 0};
  AppendInvocationTail(command, command_line);
  return LaunchAndWait(setup_path, command, EXIT_SETUP_NOT_FOUND, EXIT_SETUP_PATH_NOT_FOUND,
                       EXIT_SETUP_LAUNCH_FAILED);
}
