#include "resources/version_info.h"

#include <algorithm>
#include <cstdlib>

#include "lumora/ascii_text.h"
#include "pe/pe_format.h"
#include "platform/utf_text.h"

namespace {

// Every block: its length (all of it, children included), its value's length (in UTF-16 units
// for a text, in bytes otherwise), its type (1 text, 0 binary), its key, then its value and its
// children, each starting on a 32-bit boundary.
constexpr size_t kBlockHeaderSize = 6;
constexpr uint16_t kTextType = 1;
constexpr uint16_t kBinaryType = 0;
// VS_VERSIONINFO holds StringFileInfo, which holds string tables, which hold the texts: nothing
// a version resource holds lies deeper.
constexpr int kDeepestBlock = 3;
// VS_FIXEDFILEINFO: its signature, and the file and product versions, high and low halves.
constexpr uint32_t kFixedSignature = 0xFEEF04BD;
constexpr size_t kFixedSize = 52;
constexpr size_t kFixedFileVersion = 8;
constexpr size_t kFixedProductVersion = 16;
constexpr char16_t kRootKey[] = u"VS_VERSION_INFO";
constexpr char16_t kStringFileInfo[] = u"StringFileInfo";
// US English in Unicode: what resource compilers write when nothing else is asked for.
constexpr char16_t kDefaultTable[] = u"040904B0";

struct Block {
  std::u16string key;
  uint16_t type = kBinaryType;
  std::vector<uint8_t> value;
  std::vector<Block> children;
};

size_t Align4(size_t at) { return (at + 3) & ~size_t{3}; }

// Reads the block at the start of data, which has size bytes to it.
bool ParseBlock(const uint8_t* data, size_t size, int depth, Block& block) {
  if (size < kBlockHeaderSize) return false;
  const size_t length = Load16(data);
  const uint16_t value_length = Load16(data + 2);
  block.type = Load16(data + 4);
  if (length < kBlockHeaderSize || length > size) return false;
  size_t at = kBlockHeaderSize;
  for (;; at += 2) {
    if (at + 2 > length) return false;
    const char16_t unit = Load16(data + at);
    if (unit == 0) break;
    block.key += unit;
  }
  at = Align4(at + 2);
  const size_t value_bytes = block.type == kTextType ? 2u * value_length : value_length;
  if (value_bytes != 0) {
    if (at + value_bytes > length) return false;
    block.value.assign(data + at, data + at + value_bytes);
    at += value_bytes;
  }
  for (at = Align4(at); at < length; at = Align4(at)) {
    if (depth >= kDeepestBlock) return false;
    Block child;
    if (!ParseBlock(data + at, length - at, depth + 1, child)) return false;
    at += Load16(data + at);
    block.children.push_back(std::move(child));
  }
  return true;
}

void Pad(std::vector<uint8_t>& out) { out.resize(Align4(out.size()), 0); }

void WriteBlock(const Block& block, std::vector<uint8_t>& out) {
  const size_t start = out.size();
  out.resize(start + kBlockHeaderSize, 0);
  const std::vector<uint8_t> key = TerminatedUtf16Bytes(block.key);
  out.insert(out.end(), key.begin(), key.end());
  Pad(out);
  out.insert(out.end(), block.value.begin(), block.value.end());
  for (const Block& child : block.children) {
    Pad(out);
    WriteBlock(child, out);
  }
  const size_t value_length = block.type == kTextType ? block.value.size() / 2 : block.value.size();
  Store16(&out[start], static_cast<uint16_t>(std::min<size_t>(out.size() - start, 0xFFFF)));
  Store16(&out[start + 2], static_cast<uint16_t>(value_length));
  Store16(&out[start + 4], block.type);
}

bool HasFixedInfo(const Block& root) {
  return root.value.size() >= kFixedSize && Load32(root.value.data()) == kFixedSignature;
}

void StoreVersion(std::vector<uint8_t>& fixed, size_t at, const VersionNumber& number) {
  Store32(&fixed[at], (uint32_t{number.parts[0]} << 16) | number.parts[1]);
  Store32(&fixed[at + 4], (uint32_t{number.parts[2]} << 16) | number.parts[3]);
}

VersionNumber LoadVersion(const std::vector<uint8_t>& fixed, size_t at) {
  const uint32_t high = Load32(&fixed[at]), low = Load32(&fixed[at + 4]);
  return {{static_cast<uint16_t>(high >> 16), static_cast<uint16_t>(high),
           static_cast<uint16_t>(low >> 16), static_cast<uint16_t>(low)}};
}

bool SameKey(const std::u16string& a, const std::u16string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char16_t x, char16_t y) { return AsciiLower(x) == AsciiLower(y); });
}

void SetText(Block& table, const std::u16string& key, const std::u16string& text) {
  for (Block& entry : table.children) {
    if (SameKey(entry.key, key)) {
      entry.key = key;
      entry.type = kTextType;
      entry.value = TerminatedUtf16Bytes(text);
      entry.children.clear();
      return;
    }
  }
  Block entry;
  entry.key = key;
  entry.type = kTextType;
  entry.value = TerminatedUtf16Bytes(text);
  table.children.push_back(std::move(entry));
}

}  // namespace

bool ParseVersionNumber(const std::string& text, VersionNumber& number) {
  size_t at = 0;
  for (int i = 0; i < 4; ++i) {
    const size_t end = text.find('.', at);
    const std::string part = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (part.empty() || part.size() > 5 || part.find_first_not_of("0123456789") != std::string::npos) {
      return false;
    }
    const unsigned long value = std::strtoul(part.c_str(), nullptr, 10);
    if (value > 0xFFFF) return false;
    number.parts[i] = static_cast<uint16_t>(value);
    if ((i < 3) != (end != std::string::npos)) return false;
    at = end + 1;
  }
  return true;
}

std::string VersionNumberText(const VersionNumber& number) {
  return std::to_string(number.parts[0]) + "." + std::to_string(number.parts[1]) + "." +
         std::to_string(number.parts[2]) + "." + std::to_string(number.parts[3]);
}

bool ChangeVersionBlock(const std::vector<uint8_t>& bytes, const VersionChanges& changes,
                        std::vector<uint8_t>& changed, std::string& error) {
  Block root;
  if (!ParseBlock(bytes.data(), bytes.size(), 0, root) || root.key != kRootKey) {
    error = "the stub's version resource is not a VS_VERSIONINFO block";
    return false;
  }
  if (changes.has_file_version || changes.has_product_version) {
    if (!HasFixedInfo(root)) {
      error = "the stub's version resource has no VS_FIXEDFILEINFO to set the versions in";
      return false;
    }
    if (changes.has_file_version) StoreVersion(root.value, kFixedFileVersion, changes.file_version);
    if (changes.has_product_version) {
      StoreVersion(root.value, kFixedProductVersion, changes.product_version);
    }
  }
  if (!changes.texts.empty()) {
    Block* strings = nullptr;
    for (Block& child : root.children) {
      if (child.key == kStringFileInfo) strings = &child;
    }
    if (strings == nullptr) {
      root.children.insert(root.children.begin(), Block{kStringFileInfo, kTextType, {}, {}});
      strings = &root.children.front();
    }
    if (strings->children.empty()) strings->children.push_back(Block{kDefaultTable, kTextType, {}, {}});
    for (Block& table : strings->children) {
      for (const auto& [key, text] : changes.texts) SetText(table, key, text);
    }
  }
  for (Block& child : root.children) {
    if (child.key != kStringFileInfo) continue;
    for (Block& table : child.children) {
      for (const std::u16string& key : changes.removed) {
        table.children.erase(std::remove_if(table.children.begin(), table.children.end(),
                                            [&](const Block& b) { return SameKey(b.key, key); }),
                             table.children.end());
      }
    }
  }
  changed.clear();
  WriteBlock(root, changed);
  if (changed.size() > 0xFFFF) {
    error = "the version texts do not fit a version resource (64 KiB with everything in it)";
    return false;
  }
  return true;
}

bool ReadVersionBlock(const std::vector<uint8_t>& bytes, VersionSummary& summary) {
  summary = VersionSummary();
  Block root;
  if (!ParseBlock(bytes.data(), bytes.size(), 0, root) || root.key != kRootKey) return false;
  summary.has_fixed = HasFixedInfo(root);
  if (summary.has_fixed) {
    summary.file_version = LoadVersion(root.value, kFixedFileVersion);
    summary.product_version = LoadVersion(root.value, kFixedProductVersion);
  }
  for (const Block& child : root.children) {
    if (child.key != kStringFileInfo || child.children.empty()) continue;
    for (const Block& entry : child.children.front().children) {
      summary.texts.emplace_back(entry.key, TerminatedUtf16Text(entry.value));
    }
    break;
  }
  return true;
}
