// A whole file's bytes read into memory or written from it, for tests that compare, damage or
// craft files (installers, cabinets, archives).
#pragma once

#include <windows.h>

#include <stdint.h>

#include <string>
#include <vector>

inline bool ReadBytes(const std::wstring& path, std::vector<uint8_t>& bytes) {
  bytes.clear();
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  bool ok = GetFileSizeEx(file, &size) != FALSE;
  if (ok) {
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    ok = bytes.empty() ||
         (ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) &&
          read == bytes.size());
  }
  CloseHandle(file);
  return ok;
}

inline bool WriteBytes(const std::wstring& path, const std::vector<uint8_t>& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = bytes.empty() ||
            (::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
             written == bytes.size());
  CloseHandle(file);
  return ok;
}

// The file's bytes; empty when it cannot be read.
inline std::vector<uint8_t> FileBytes(const std::wstring& path) {
  std::vector<uint8_t> bytes;
  if (!ReadBytes(path, bytes)) bytes.clear();
  return bytes;
}
