#include "resources/application_face.h"

#include <algorithm>

#include "resources/icon_file.h"
#include "lumora/ascii_text.h"
#include "platform/utf_text.h"
#include "resources/version_info.h"

namespace {

// Longer keys are not something a properties dialog shows.
constexpr size_t kLongestKey = 64;

std::u16string Units(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

bool SameKey(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

bool IsKey(const std::string& key) {
  if (key.empty() || key.size() > kLongestKey || key.front() == ' ' || key.back() == ' ') {
    return false;
  }
  return std::all_of(key.begin(), key.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == ' ' || c == '_' || c == '-' || c == '.';
  });
}

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

const Resource* StubVersion(const std::vector<Resource>& resources) {
  for (const Resource& r : resources) {
    if (HasId(r.type, kRtVersion)) return &r;
  }
  return nullptr;
}

}  // namespace

bool AddFaceText(const std::string& option, const std::string& key, const std::string& text,
                 bool numbers, FaceOptions& face, std::string& error) {
  if (!IsKey(key)) {
    error = option + " takes a key of letters, digits, spaces, '_', '-' and '.' (at most " +
            std::to_string(kLongestKey) + "), such as OriginalFilename, not \"" + key + "\"";
    return false;
  }
  for (const FaceText& t : face.texts) {
    if (SameKey(t.key, key)) {
      error = "the version text " + key + " is set twice, by " + t.option +
              (t.option == option ? " twice" : " and by " + option);
      return false;
    }
  }
  std::u16string units;
  if (!Utf8ToUtf16(text, units)) {
    error = option + " is not valid UTF-8";
    return false;
  }
  if (std::any_of(units.begin(), units.end(), [](char16_t c) { return c < 0x20 || c == 0x7F; })) {
    error = option + " may not hold control characters";
    return false;
  }
  if (numbers) {
    VersionNumber number;
    if (!ParseVersionNumber(text, number)) {
      error = option + " takes four numbers from 0 to 65535 separated by dots (1.2.3.4), not \"" +
              text + "\"";
      return false;
    }
    (key == kFileVersionKey ? face.file_version : face.product_version) = text;
  }
  face.texts.push_back({key, text, option});
  return true;
}

bool ApplyApplicationFace(const FaceOptions& o, const InputFile* icon,
                          std::vector<Resource>& resources, std::string& error) {
  VersionChanges changes;
  for (const FaceText& t : o.texts) {
    std::u16string units;
    Utf8ToUtf16(t.text, units);
    if (units.empty()) {
      changes.removed.push_back(Units(t.key));
    } else {
      changes.texts.emplace_back(Units(t.key), units);
    }
  }
  changes.has_file_version = ParseVersionNumber(o.file_version, changes.file_version);
  changes.has_product_version = ParseVersionNumber(o.product_version, changes.product_version);
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

std::vector<std::pair<std::string, std::string>> StubTextsLeft(
    const FaceOptions& options, const std::vector<Resource>& resources) {
  std::vector<std::pair<std::string, std::string>> left;
  const Resource* version = StubVersion(resources);
  VersionSummary summary;
  if (version == nullptr || !ReadVersionBlock(version->bytes, summary)) return left;
  for (const auto& [key, text] : summary.texts) {
    const std::string name = Utf16ToUtf8(key);
    const bool set = std::any_of(options.texts.begin(), options.texts.end(),
                                 [&](const FaceText& t) { return SameKey(t.key, name); });
    if (!set && !text.empty()) left.emplace_back(name, Utf16ToUtf8(text));
  }
  return left;
}
