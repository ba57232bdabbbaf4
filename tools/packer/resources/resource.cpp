#include "resources/resource.h"

#include "platform/escaped_text.h"
#include "platform/file_io.h"
#include "platform/utf_text.h"

namespace {

// The longest name shown whole: every name the stub can take is shorter.
constexpr size_t kLongestShownName = 260;

// A name too long to be a payload name, shown in the given form up to that length with its
// length said.
std::string Shortened(const std::u16string& name, std::string (*form)(const std::u16string&)) {
  if (name.size() <= kLongestShownName) return form(name);
  return form(name.substr(0, kLongestShownName)) + "... (" + std::to_string(name.size()) +
         " units)";
}

}  // namespace

ResourceKey ResourceKey::Name(const char* ascii) {
  std::u16string name;
  for (const char* c = ascii; *c != '\0'; ++c) name += static_cast<char16_t>(*c);
  return Name(std::move(name));
}

const std::u16string& ResourceKey::name() const {
  static const std::u16string kNone;
  return text != nullptr ? *text : kNone;
}

bool ResourceKey::operator==(const ResourceKey& other) const {
  if (named != other.named || id != other.id) return false;
  return text == other.text || name() == other.name();
}

bool KeyLess(const ResourceKey& a, const ResourceKey& b) {
  if (a.named != b.named) return a.named;
  if (a.named) return a.text != b.text && a.name() < b.name();
  return a.id < b.id;
}

bool HasId(const ResourceKey& key, uint16_t id) { return !key.named && key.id == id; }

std::u16string TerminatedName(const ResourceKey& key) {
  return key.name().substr(0, key.name().find(u'\0'));
}

Resource MemoryResource(ResourceKey type, ResourceKey name, uint16_t language,
                        std::vector<uint8_t> bytes) {
  Resource r;
  r.type = std::move(type);
  r.name = std::move(name);
  r.language = language;
  r.size = static_cast<uint32_t>(bytes.size());
  r.bytes = std::move(bytes);
  return r;
}

Resource StreamedResource(ResourceKey type, ResourceKey name, uint16_t language,
                          const InputFile& file) {
  Resource r;
  r.type = std::move(type);
  r.name = std::move(name);
  r.language = language;
  r.file = &file;
  r.page_aligned = true;
  return r;
}

std::string NameText(const std::u16string& name) { return Shortened(name, Utf16ToUtf8); }

std::string KeyText(const ResourceKey& key) {
  if (key.named) return NameText(key.name());
  return "#" + std::to_string(key.id);
}

std::string ShownName(const std::u16string& name) { return Shortened(name, Escaped); }

std::string QuotedName(const std::u16string& name) { return Shortened(name, Quoted); }

std::string ShownKey(const ResourceKey& key) {
  if (key.named) return ShownName(key.name());
  return "#" + std::to_string(key.id);
}
