// A client-state key that a test owns for its duration (under an application id of its own, or a
// channel's when it runs the installer whole), set up and inspected with the raw registry API so
// that the code under test is checked against what the registry really holds. Every access names
// its registry view, so a test can tell the updater's 32-bit view apart from the 64-bit one. The
// key is removed from both views on construction and destruction.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "base/client_state_key.h"

namespace scratch {

constexpr REGSAM kView32 = KEY_WOW64_32KEY;
constexpr REGSAM kView64 = KEY_WOW64_64KEY;
// What Dword reads for a value that is not there, or is no four-byte REG_DWORD.
constexpr uint32_t kNone = 0xFFFFFFFFu;

// The application id of the registry key tests' own key. Not a real channel's: the installer's
// own tests may use those at the same time.
constexpr wchar_t kScratchAppId[] = L"{0B5E7A11-6C1D-4E0A-9F3B-2E6D5C4B3A01}";
// The value those tests write and read back.
constexpr wchar_t kProbe[] = L"Probe";

inline std::vector<uint8_t> TextBytes(const std::wstring& text, bool terminated) {
  const size_t units = text.size() + (terminated ? 1 : 0);
  const auto* first = reinterpret_cast<const uint8_t*>(text.c_str());
  return std::vector<uint8_t>(first, first + units * sizeof(wchar_t));
}

inline std::vector<uint8_t> DwordBytes(uint32_t value) {
  return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
          static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

struct Value {
  bool present = false;
  DWORD type = REG_NONE;
  std::vector<uint8_t> bytes;
};

class ClientStateKey {
 public:
  ClientStateKey(bool system_level, std::wstring app_id)
      : root_(system_level ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER),
        app_id_(std::move(app_id)),
        path_(std::wstring(kClientStateKeyPrefix) + app_id_) {
    Remove();
  }
  ~ClientStateKey() { Remove(); }
  ClientStateKey(const ClientStateKey&) = delete;
  ClientStateKey& operator=(const ClientStateKey&) = delete;

  const wchar_t* app_id() const { return app_id_.c_str(); }
  const std::wstring& path() const { return path_; }
  HKEY root() const { return root_; }

  // Deletes the key with everything under it, in both views.
  void Remove() const {
    for (REGSAM view : {kView32, kView64}) {
      HKEY key;
      if (RegOpenKeyExW(root_, path_.c_str(), 0, KEY_ALL_ACCESS | view, &key) == ERROR_SUCCESS) {
        RegDeleteTreeW(key, nullptr);
        RegCloseKey(key);
      }
      RegDeleteKeyExW(root_, path_.c_str(), view, 0);
    }
  }

  ::testing::AssertionResult Create(REGSAM view = kView32) const {
    HKEY key;
    const LSTATUS status = RegCreateKeyExW(root_, path_.c_str(), 0, nullptr, 0,
                                           KEY_SET_VALUE | view, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return ::testing::AssertionFailure() << "create: " << status;
    RegCloseKey(key);
    return ::testing::AssertionSuccess();
  }

  bool Exists(REGSAM view) const { return ExistsAt(path_, view); }

  // Exactly as the path reads, without redirection (e.g. "Software\\Wow6432Node\\..." under kView64).
  bool ExistsAt(const std::wstring& path, REGSAM view) const {
    HKEY key;
    if (RegOpenKeyExW(root_, path.c_str(), 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) {
      return false;
    }
    RegCloseKey(key);
    return true;
  }

  // Creates the key when it is not there yet.
  ::testing::AssertionResult Set(const wchar_t* name, DWORD type, const std::vector<uint8_t>& bytes,
                                 REGSAM view = kView32) const {
    HKEY key;
    LSTATUS status = RegCreateKeyExW(root_, path_.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view,
                                     nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return ::testing::AssertionFailure() << "create: " << status;
    // RegSetValueExW stores a string's terminator when one follows the data in memory, even
    // beyond the byte count given; what follows here is never 0, so the bytes stand exactly.
    std::vector<uint8_t> padded(bytes);
    padded.insert(padded.end(), 4, 0xFF);
    status = RegSetValueExW(key, name, 0, type, padded.data(), static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return ::testing::AssertionFailure() << "set: " << status;
    const Value stored = GetAt(path_, name, view);
    if (stored.type != type || stored.bytes != bytes) {
      return ::testing::AssertionFailure() << "stored " << stored.bytes.size() << " bytes of type "
                                           << stored.type << " instead of " << bytes.size();
    }
    return ::testing::AssertionSuccess();
  }

  ::testing::AssertionResult SetText(const wchar_t* name, const std::wstring& text) const {
    return Set(name, REG_SZ, TextBytes(text, true));
  }
  ::testing::AssertionResult SetDword(const wchar_t* name, uint32_t value) const {
    return Set(name, REG_DWORD, DwordBytes(value));
  }

  Value Get(const wchar_t* name, REGSAM view = kView32) const { return GetAt(path_, name, view); }

  Value GetAt(const std::wstring& path, const wchar_t* name, REGSAM view) const {
    Value value;
    HKEY key;
    if (RegOpenKeyExW(root_, path.c_str(), 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) {
      return value;
    }
    DWORD bytes = 0;
    if (RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &bytes) == ERROR_SUCCESS) {
      value.bytes.resize(bytes);
      if (RegQueryValueExW(key, name, nullptr, &value.type, value.bytes.data(), &bytes) ==
          ERROR_SUCCESS) {
        value.present = true;
        value.bytes.resize(bytes);
      }
    }
    RegCloseKey(key);
    return value;
  }

  // The text of a REG_SZ value in the 32-bit view; "(absent)" when the key or the value is not
  // there, "(not a string)" for any other type.
  std::wstring Text(const wchar_t* name) const {
    const Value value = Get(name);
    if (!value.present) return L"(absent)";
    if (value.type != REG_SZ) return L"(not a string)";
    std::wstring text(value.bytes.size() / sizeof(wchar_t), L'\0');
    memcpy(&text[0], value.bytes.data(), text.size() * sizeof(wchar_t));
    return text.substr(0, text.find(L'\0'));
  }

  uint32_t Dword(const wchar_t* name) const {
    const Value value = Get(name);
    if (!value.present || value.type != REG_DWORD || value.bytes.size() != 4) return kNone;
    return value.bytes[0] | (value.bytes[1] << 8) | (value.bytes[2] << 16) |
           (static_cast<uint32_t>(value.bytes[3]) << 24);
  }

  // Number of values in the key, or -1 when the key cannot be opened.
  int ValueCount(REGSAM view = kView32) const {
    HKEY key;
    if (RegOpenKeyExW(root_, path_.c_str(), 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) {
      return -1;
    }
    DWORD count = 0;
    const LSTATUS status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr,
                                            nullptr, &count, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? static_cast<int>(count) : -1;
  }

 private:
  HKEY root_;
  std::wstring app_id_;
  std::wstring path_;
};

inline const char* HiveName(bool system_level) { return system_level ? "Machine" : "User"; }

}  // namespace scratch
