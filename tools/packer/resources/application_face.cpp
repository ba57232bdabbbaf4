#include "application_face.h"

#include <algorithm>

#include "icon_file.h"
#include "utf_text.h"
#include "version_info.h"

namespace {

bool ReplaceIcon(const InputFile& icon, std::vector<Resource>& resources, std::string& error) {
  std::vector<IconImage> images;
  if (!ReadIconFile(icon, images, error)) return false;
  // The new group takes the place of the stub's first, under its name and language: the shell
  // shows an executable's first icon group.
  ResourceKey group = ResourceKey::Id(1);
  uint16_t language = kEnglishUsLanguage;
  for (const Resource& r : resources) {
    if (HasId(r.type, kRtGroupIcon)) {
      group = r.name;
      language = r.language;
      break;
    }
  }
  resources.erase(std::remove_if(resources.begin(), resources.end(),
                                 [](const Resource& r) {
                                   return HasId(r.type, kRtIcon) || HasId(r.type, kRtGroupIcon);
                                 }),
                  resources.end());
  for (Resource& r : IconResources(images, group, language)) resources.push_back(std::move(r));
  return true;
}

bool AddText(const char* option, const char* key, const std::string& text,
             VersionChanges& changes, std::string& error) {
  if (text.empty()) return true;
  std::u16string units;
  if (!Utf8ToUtf16(text, units)) {
    error = std::string(option) + " is not valid UTF-8";
    return false;
  }
  for (char16_t c : units) {
    if (c < 0x20) {
      error = std::string(option) + " may not hold control characters";
      return false;
    }
  }
  changes.texts.emplace_back(std::u16string(key, key + std::char_traits<char>::length(key)), units);
  return true;
}

bool AddVersion(const char* option, const char* key, const std::string& text, bool& has,
                VersionNumber& number, VersionChanges& changes, std::string& error) {
  if (text.empty()) return true;
  if (!ParseVersionNumber(text, number)) {
    error = std::string(option) + " takes four numbers from 0 to 65535 separated by dots " +
            "(1.2.3.4), not \"" + text + "\"";
    return false;
  }
  has = true;
  // The text shows the same version as the numbers.
  return AddText(option, key, text, changes, error);
}

}  // namespace

bool ApplyApplicationFace(const FaceOptions& o, const InputFile* icon,
                          std::vector<Resource>& resources, std::string& error) {
  VersionChanges changes;
  if (!AddText("--product-name", "ProductName", o.product_name, changes, error) ||
      !AddText("--company-name", "CompanyName", o.company_name, changes, error) ||
      !AddText("--file-description", "FileDescription", o.file_description, changes, error) ||
      !AddVersion("--file-version", "FileVersion", o.file_version, changes.has_file_version,
                  changes.file_version, changes, error) ||
      !AddVersion("--product-version", "ProductVersion", o.product_version,
                  changes.has_product_version, changes.product_version, changes, error) ||
      !AddText("--copyright", "LegalCopyright", o.copyright, changes, error)) {
    return false;
  }
  if (icon != nullptr && !ReplaceIcon(*icon, resources, error)) return false;
  if (changes.empty()) return true;
  bool found = false;
  for (Resource& r : resources) {
    if (!HasId(r.type, kRtVersion)) continue;
    std::vector<uint8_t> changed;
    if (!ChangeVersionBlock(r.bytes, changes, changed, error)) return false;
    r.bytes = std::move(changed);
    r.size = static_cast<uint32_t>(r.bytes.size());
    found = true;
  }
  if (!found) {
    error = "the stub has no version resource to set the application's version in";
    return false;
  }
  return true;
}
