// What the payload tests share: fixture paths, whole-file reads and writes, resource images loaded
// as data, and a small cabinet writer for the cabinets that no tool of the build makes.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "support/file_bytes.h"
#include "support/resource_image.h"
#include "support/scratch_directory.h"

inline std::wstring LayoutPath(const wchar_t* layout) {
  return std::wstring(LUMORA_LAYOUT_DIR) + L"\\layout_" + layout + L".dll";
}
inline std::wstring DataPath(const wchar_t* name) {
  return std::wstring(LUMORA_DATA_DIR) + L"\\" + name;
}

// A payload layout, loaded where the installer's own image would be.
struct LayoutImage : ResourceImage {
  explicit LayoutImage(const wchar_t* layout) : ResourceImage(LayoutPath(layout)) {}
};

// A fixture of the build's data directory; a missing one is a test failure.
inline std::vector<uint8_t> DataFile(const wchar_t* name) {
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(ReadBytes(DataPath(name), bytes)) << "missing fixture";
  return bytes;
}

// Wine on Linux accepts a new creation time and keeps none (the file system has no settable
// birth time); Windows keeps it. Probed on a file of the directory the test uses.
constexpr const char* kCreationTimesNotKept =
    "this platform does not keep a file's creation time (Wine on Linux): not observable here";
inline bool CreationTimesAreKept(const ScratchDirectory& directory) {
  const std::wstring path = directory / L"creation-time-probe";
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  FILE_BASIC_INFO info = {};
  info.CreationTime.QuadPart = 125911584000000000;  // 2000-01-01
  bool kept = false;
  if (SetFileInformationByHandle(file, FileBasicInfo, &info, sizeof(info))) {
    FILE_BASIC_INFO read = {};
    kept = GetFileInformationByHandleEx(file, FileBasicInfo, &read, sizeof(read)) &&
           read.CreationTime.QuadPart == info.CreationTime.QuadPart;
  }
  CloseHandle(file);
  return kept;
}

#include "payload/cabinet_writer.h"
