#include "update/entry_path.h"

#include <windows.h>

#include "delta/archive/patch_archive_format.h"
#include "seven_zip/safe_entry_name.h"

bool EntryPath(const std::wstring& folder, const std::string& name, std::wstring& path) {
  // The archive's own rules first (no empty, "." or ".." part, no character Windows refuses),
  // then Windows' (devices, names it would alter), on the name as Windows will see it.
  if (!delta::IsValidEntryName(name)) return false;
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(),
                                         static_cast<int>(name.size()), nullptr, 0);
  if (length <= 0) return false;
  std::wstring relative(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(), static_cast<int>(name.size()),
                      &relative[0], length);
  std::u16string checked;
  for (wchar_t& c : relative) {
    if (c == L'/') c = L'\\';
    checked.push_back(static_cast<char16_t>(c));
  }
  if (!IsSafeEntryName(checked)) return false;
  path = folder + L"\\" + relative;
  return true;
}
