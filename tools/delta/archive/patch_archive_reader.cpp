#include "delta/archive/patch_archive_reader.h"

#include <cstring>
#include <algorithm>
#include <utility>

#include "delta/engine/byte_stream.h"
#include "delta/engine/delta_format.h"

namespace delta {
namespace {

bool TakeName(ByteCursor& cursor, std::string& name) {
  uint64_t size;
  const uint8_t* bytes;
  if (!cursor.TakeVarint(size) || size > kMaxNameBytes || !cursor.TakeBytes(bytes, size)) {
    return false;
  }
  name.assign(reinterpret_cast<const char*>(bytes), size);
  return IsValidEntryName(name);
}

bool TakeDigest(ByteCursor& cursor, Sha256Digest& digest) {
  const uint8_t* bytes;
  if (!cursor.TakeBytes(bytes, digest.size())) return false;
  std::memcpy(digest.data(), bytes, digest.size());
  return true;
}

bool TakeSize(ByteCursor& cursor, uint64_t limit, uint64_t& size) {
  return cursor.TakeVarint(size) && size <= limit;
}

bool TakeEntry(ByteCursor& cursor, PatchEntry& entry) {
  uint64_t kind;
  if (!cursor.TakeLittleEndian(kind, 1) || !TakeName(cursor, entry.name)) return false;
  entry.kind = static_cast<EntryKind>(kind);
  switch (entry.kind) {
    case EntryKind::kUnchanged:
      if (!TakeSize(cursor, kMaxStreamedFile, entry.new_size) ||
          !TakeDigest(cursor, entry.new_digest)) {
        return false;
      }
      // An unchanged file relies on the same bytes in the previous release.
      entry.base_name = entry.name;
      entry.old_size = entry.new_size;
      entry.old_digest = entry.new_digest;
      return true;
    case EntryKind::kPatched:
      return TakeName(cursor, entry.base_name) &&
             TakeSize(cursor, kMaxPatchedFile, entry.old_size) &&
             TakeDigest(cursor, entry.old_digest) &&
             TakeSize(cursor, kMaxPatchedFile, entry.new_size) &&
             TakeDigest(cursor, entry.new_digest) &&
             TakeSize(cursor, kMaxControlBytes, entry.control_size);
    case EntryKind::kAdded:
      return TakeSize(cursor, kMaxStreamedFile, entry.new_size) &&
             TakeDigest(cursor, entry.new_digest);
    case EntryKind::kRemoved:
    case EntryKind::kFolder:
      return true;
  }
  return false;
}

std::string Folded(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

}  // namespace

bool DecodeHeader(const uint8_t* bytes, size_t size, PatchHeader& header, std::string& error) {
  if (size < kPatchHeaderSize || std::memcmp(bytes, kPatchMagic, sizeof kPatchMagic) != 0) {
    error = "not a patch archive";
    return false;
  }
  ByteCursor cursor(bytes + sizeof kPatchMagic, kPatchHeaderSize - sizeof kPatchMagic);
  uint64_t version, entries;
  cursor.TakeLittleEndian(version, 4);
  cursor.TakeLittleEndian(entries, 4);
  cursor.TakeLittleEndian(header.directory_size, 8);
  cursor.TakeLittleEndian(header.stream_size, 8);
  cursor.TakeLittleEndian(header.stream_decoded, 8);
  header.version = static_cast<uint32_t>(version);
  header.entry_count = static_cast<uint32_t>(entries);
  if (header.version != kPatchFormatVersion) {
    error = "patch archive format version " + std::to_string(version) + " is not supported";
    return false;
  }
  if (header.entry_count > kMaxEntries || header.directory_size > kMaxDirectoryBytes) {
    error = "patch archive directory out of bounds";
    return false;
  }
  return true;
}

bool DecodeDirectory(const PatchHeader& header, const uint8_t* bytes, size_t size,
                     std::vector<PatchEntry>& entries, std::string& error) {
  entries.clear();
  if (size != header.directory_size) {
    error = "patch archive directory size mismatch";
    return false;
  }
  ByteCursor cursor(bytes, size);
  // Names as Windows compares them, with their entries, checked for twins once all are read.
  std::vector<std::pair<std::string, size_t>> folded_names;
  uint64_t stream_bytes = 0;
  for (uint32_t i = 0; i < header.entry_count; ++i) {
    // Each entry takes at least three bytes: the count cannot outgrow the directory.
    if (cursor.Remaining() < 3) {
      error = "patch archive directory ends early";
      return false;
    }
    PatchEntry entry;
    if (!TakeEntry(cursor, entry)) {
      error = "patch archive entry " + std::to_string(i) + " is invalid";
      return false;
    }
    if (!entries.empty() && !(entries.back().name < entry.name)) {
      error = "patch archive entries out of order: " + entry.name;
      return false;
    }
    folded_names.emplace_back(Folded(entry.name), entries.size());
    stream_bytes += entry.StreamBytes();  // at most 2^20 entries of under 2^41: no overflow
    entries.push_back(std::move(entry));
  }
  std::sort(folded_names.begin(), folded_names.end());
  for (size_t i = 1; i < folded_names.size(); ++i) {
    if (folded_names[i].first == folded_names[i - 1].first) {
      error = "patch archive names one file or folder twice: " + entries[folded_names[i].second].name;
      return false;
    }
  }
  if (!cursor.AtEnd()) {
    error = "patch archive directory has bytes past its last entry";
    return false;
  }
  if (stream_bytes != header.stream_decoded) {
    error = "patch archive stream size does not match its entries";
    return false;
  }
  return true;
}

}  // namespace delta
