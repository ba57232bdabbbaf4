#include "delta/archive/patch_archive_format.h"

#include "delta/engine/byte_stream.h"

namespace delta {
namespace {

bool IsValidPart(const std::string& name, size_t from, size_t to) {
  if (from == to) return false;
  // Also refuses "." and "..": Windows drops a trailing dot or space, so "a." would be "a".
  const char last = name[to - 1];
  if (last == '.' || last == ' ') return false;
  for (size_t i = from; i < to; ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c < 0x20 || c == 0x7f) return false;
    for (char refused : {'\\', ':', '*', '?', '"', '<', '>', '|'}) {
      if (c == static_cast<unsigned char>(refused)) return false;
    }
  }
  return true;
}

void PutName(std::vector<uint8_t>& out, const std::string& name) {
  PutVarint(out, name.size());
  out.insert(out.end(), name.begin(), name.end());
}

}  // namespace

uint64_t PatchEntry::StreamBytes() const {
  switch (kind) {
    case EntryKind::kPatched:
      return control_size + new_size;
    case EntryKind::kAdded:
      return new_size;
    default:
      return 0;
  }
}

bool IsValidEntryName(const std::string& name) {
  if (name.empty() || name.size() > kMaxNameBytes) return false;
  size_t from = 0;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || name[i] == '/') {
      if (!IsValidPart(name, from, i)) return false;
      from = i + 1;
    }
  }
  return true;
}

std::vector<uint8_t> EncodeHeader(const PatchHeader& header) {
  std::vector<uint8_t> out(kPatchMagic, kPatchMagic + sizeof kPatchMagic);
  PutLittleEndian(out, header.version, 4);
  PutLittleEndian(out, header.entry_count, 4);
  PutLittleEndian(out, header.directory_size, 8);
  PutLittleEndian(out, header.stream_size, 8);
  PutLittleEndian(out, header.stream_decoded, 8);
  return out;
}

std::vector<uint8_t> EncodeDirectory(const std::vector<PatchEntry>& entries) {
  std::vector<uint8_t> out;
  for (const PatchEntry& entry : entries) {
    out.push_back(static_cast<uint8_t>(entry.kind));
    PutName(out, entry.name);
    switch (entry.kind) {
      case EntryKind::kUnchanged:
        PutVarint(out, entry.new_size);
        out.insert(out.end(), entry.new_digest.begin(), entry.new_digest.end());
        break;
      case EntryKind::kPatched:
        PutName(out, entry.base_name);
        PutVarint(out, entry.old_size);
        out.insert(out.end(), entry.old_digest.begin(), entry.old_digest.end());
        PutVarint(out, entry.new_size);
        out.insert(out.end(), entry.new_digest.begin(), entry.new_digest.end());
        PutVarint(out, entry.control_size);
        break;
      case EntryKind::kAdded:
        PutVarint(out, entry.new_size);
        out.insert(out.end(), entry.new_digest.begin(), entry.new_digest.end());
        break;
      case EntryKind::kRemoved:
      case EntryKind::kFolder:
        break;
    }
  }
  return out;
}

}  // namespace delta
