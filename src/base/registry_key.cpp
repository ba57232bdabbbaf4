#include "base/registry_key.h"

#include "base/registry_string.h"

uint32_t RegistryKey::Open(HKEY root, const wchar_t* path, uint32_t access) {
  Close();
  // Opened into a local first: what RegOpenKeyExW leaves in its output on failure is not promised,
  // and the key must never hold a handle it does not own.
  HKEY opened = nullptr;
  const LSTATUS status = RegOpenKeyExW(root, path, 0, access, &opened);
  if (status == ERROR_SUCCESS) handle_.Reset(opened);
  return static_cast<uint32_t>(status);
}

uint32_t RegistryKey::ReadString(const wchar_t* name, wchar_t* buffer, uint32_t capacity) {
  // An empty value would otherwise get its terminator written outside a buffer of no units.
  if (buffer == nullptr || capacity == 0) return ERROR_INVALID_PARAMETER;
  DWORD type = 0;
  DWORD bytes = capacity * 2;
  const LSTATUS status = RegQueryValueExW(handle_.Get(), name, nullptr, &type,
                                          reinterpret_cast<BYTE*>(buffer), &bytes);
  if (status != ERROR_SUCCESS) return static_cast<uint32_t>(status);
  if (type != REG_SZ) return ERROR_NOT_SUPPORTED;
  return TerminateRegistryString(buffer, capacity, bytes) ? ERROR_SUCCESS : ERROR_MORE_DATA;
}

uint32_t RegistryKey::ReadDword(const wchar_t* name, uint32_t& value) {
  DWORD type = 0;
  DWORD bytes = sizeof(value);
  const LSTATUS status = RegQueryValueExW(handle_.Get(), name, nullptr, &type,
                                          reinterpret_cast<BYTE*>(&value), &bytes);
  if (status != ERROR_SUCCESS) return static_cast<uint32_t>(status);
  if (type != REG_DWORD) return ERROR_NOT_SUPPORTED;
  return bytes == sizeof(value) ? ERROR_SUCCESS : ERROR_NO_DATA;
}

uint32_t RegistryKey::WriteString(const wchar_t* name, const wchar_t* text) {
  DWORD units = 0;
  while (text[units] != 0) ++units;
  return static_cast<uint32_t>(RegSetValueExW(handle_.Get(), name, 0, REG_SZ,
                                              reinterpret_cast<const BYTE*>(text),
                                              (units + 1) * sizeof(wchar_t)));
}

uint32_t RegistryKey::WriteDword(const wchar_t* name, uint32_t value) {
  // x86-64 is little-endian: the value's own bytes are the REG_DWORD layout.
  return static_cast<uint32_t>(RegSetValueExW(handle_.Get(), name, 0, REG_DWORD,
                                              reinterpret_cast<const BYTE*>(&value),
                                              sizeof(value)));
}
