#include "launch/setup_command_line.h"

#include "launch/launch_and_wait.h"
#include "lumora/payload_rules.h"

// The packer predicts from these which previous versions and paths fit: they are the stub's.
static_assert(kPathCapacity == PathBuffer::capacity, "the packer's paths are the stub's");
static_assert(kCommandCapacity == CommandBuffer::capacity, "the packer's command is the stub's");

ExitResult CheckPreviousVersion(const wchar_t* previous_version) {
  if (previous_version != nullptr && !CanCarryPreviousVersion(previous_version)) {
    return {EXIT_COMMAND_LINE_TOO_LONG, 0};
  }
  return {EXIT_OK, 0};
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
                            compressed_archive ? kInstallArchiveSwitch.wide
                                               : kUncompressedArchiveSwitch.wide) &&
              AppendBounded(text, capacity, L"=\"") &&
              AppendBounded(text, capacity, archive_path.text) &&
              AppendBounded(text, capacity, L"\"");
  if (fits && previous_version != nullptr) {
    fits = AppendBounded(text, capacity, L" --") &&
           AppendBounded(text, capacity, kPreviousVersionSwitch.wide) &&
           AppendBounded(text, capacity, L"=\"") &&
           AppendBounded(text, capacity, previous_version) &&
           AppendBounded(text, capacity, L"\"");
  }
  if (!fits) return {EXIT_COMMAND_LINE_TOO_LONG, 0};
  AppendInvocationTail(command, command_line);
  return LaunchAndWait(setup_path, command, EXIT_SETUP_NOT_FOUND, EXIT_SETUP_PATH_NOT_FOUND,
                       EXIT_SETUP_LAUNCH_FAILED);
}
