// The writer's steps: list both trees, decide each file's kind, make the deltas, lay out the
// stream in the directory's order and compress it as one.
#include "delta/archive/patch_archive_writer.h"

#include <algorithm>
#include <map>

#include "delta/archive/patch_archive_format.h"
#include "delta/engine/delta_encoder.h"
#include "delta/engine/delta_format.h"
#include "delta/engine/lzma_stream.h"
#include "delta/hash/sha256.h"

namespace delta {
namespace {

struct OldFile {
  uint64_t size = 0;
  Sha256Digest digest{};
  bool kept = false;  // present in the new release under the same name
};

std::string LastPart(const std::string& name) {
  const size_t slash = name.rfind('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

bool ListValid(SourceTree& tree, std::vector<std::string>& names, std::string& error) {
  if (!tree.List(names, error)) return false;
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (!IsValidEntryName(name)) {
      error = "file name not allowed in a patch archive: " + name;
      return false;
    }
  }
  return true;
}

// A moved file's base: a leaving file of the same content, else of the same last part when
// exactly one has it.
std::string MovedFrom(const std::map<std::string, OldFile>& old_files,
                      const std::string& name, const Sha256Digest& digest) {
  std::string same_part;
  int same_part_count = 0;
  for (const auto& [old_name, file] : old_files) {
    if (file.kept) continue;
    if (file.digest == digest) return old_name;
    if (LastPart(old_name) == LastPart(name)) {
      same_part = old_name;
      ++same_part_count;
    }
  }
  return same_part_count == 1 ? same_part : std::string();
}

}  // namespace

bool WritePatchArchive(SourceTree& old_tree, SourceTree& new_tree, std::vector<uint8_t>& archive,
                       PatchCounts& counts, std::string& error) {
  counts = PatchCounts{};
  std::vector<std::string> old_names, new_names;
  if (!ListValid(old_tree, old_names, error) || !ListValid(new_tree, new_names, error)) return false;

  std::map<std::string, OldFile> old_files;
  std::vector<uint8_t> bytes;
  for (const std::string& name : old_names) {
    if (!old_tree.Load(name, bytes, error)) return false;
    old_files[name] = OldFile{bytes.size(), Sha256Of(bytes.data(), bytes.size()), false};
  }
  for (const std::string& name : new_names) {
    auto found = old_files.find(name);
    if (found != old_files.end()) found->second.kept = true;
  }

  std::map<std::string, PatchEntry> entries;  // sorted by name, as the directory must be
  std::vector<uint8_t> stream;
  std::vector<uint8_t> old_bytes;
  for (const std::string& name : new_names) {
    if (!new_tree.Load(name, bytes, error)) return false;
    PatchEntry entry;
    entry.name = name;
    entry.new_size = bytes.size();
    entry.new_digest = Sha256Of(bytes.data(), bytes.size());
    counts.new_bytes += bytes.size();
    auto same = old_files.find(name);
    if (same != old_files.end() && same->second.digest == entry.new_digest &&
        same->second.size == entry.new_size) {
      entry.kind = EntryKind::kUnchanged;
      ++counts.unchanged;
      entries[name] = entry;
      continue;
    }
    entry.base_name = same != old_files.end() ? name : MovedFrom(old_files, name, entry.new_digest);
    DeltaParts parts;
    bool patched = false;
    if (!entry.base_name.empty()) {
      const OldFile& base = old_files[entry.base_name];
      if (base.size <= kMaxPatchedFile && entry.new_size <= kMaxPatchedFile) {
        if (!old_tree.Load(entry.base_name, old_bytes, error)) return false;
        patched = EncodeDelta(old_bytes.data(), old_bytes.size(), bytes.data(), bytes.size(),
                              parts) &&
                  parts.controls.size() <= kMaxControlBytes;
        entry.old_size = base.size;
        entry.old_digest = base.digest;
      }
    }
    if (patched) {
      entry.kind = EntryKind::kPatched;
      entry.control_size = parts.controls.size();
      stream.insert(stream.end(), parts.controls.begin(), parts.controls.end());
      stream.insert(stream.end(), parts.diff.begin(), parts.diff.end());
      stream.insert(stream.end(), parts.extra.begin(), parts.extra.end());
      ++counts.patched;
    } else {
      entry = PatchEntry{EntryKind::kAdded, name, {}, 0, {}, entry.new_size, entry.new_digest, 0};
      stream.insert(stream.end(), bytes.begin(), bytes.end());
      ++counts.added;
    }
    entries[name] = entry;
  }
  std::vector<std::string> folders;
  if (!new_tree.ListEmptyFolders(folders, error)) return false;
  for (const std::string& name : folders) {
    if (!IsValidEntryName(name)) {
      error = "folder name not allowed in a patch archive: " + name;
      return false;
    }
    if (entries.count(name) != 0) {
      error = "the new release has a file and a folder named " + name;
      return false;
    }
    PatchEntry entry;
    entry.kind = EntryKind::kFolder;
    entry.name = name;
    entries[name] = entry;
    ++counts.folders;
  }
  for (const auto& [name, file] : old_files) {
    // A file of the previous release where the new one has an empty folder: the applier ignores
    // removed files, and the folder's entry is the one the name needs.
    if (file.kept || entries.count(name) != 0) continue;
    PatchEntry entry;
    entry.kind = EntryKind::kRemoved;
    entry.name = name;
    entries[name] = entry;
    ++counts.removed;
  }
  if (entries.size() > kMaxEntries) {
    error = "too many files for a patch archive";
    return false;
  }
  std::vector<PatchEntry> directory_entries;
  for (auto& [name, entry] : entries) directory_entries.push_back(std::move(entry));
  const std::vector<uint8_t> directory = EncodeDirectory(directory_entries);
  if (directory.size() > kMaxDirectoryBytes) {
    error = "patch archive directory too large";
    return false;
  }
  std::vector<uint8_t> compressed;
  if (!CompressLzma(stream, compressed)) {
    error = "LZMA compression failed";
    return false;
  }
  counts.stream_decoded = stream.size();

  PatchHeader header;
  header.entry_count = static_cast<uint32_t>(directory_entries.size());
  header.directory_size = directory.size();
  header.stream_size = compressed.size();
  header.stream_decoded = stream.size();
  archive = EncodeHeader(header);
  archive.insert(archive.end(), directory.begin(), directory.end());
  archive.insert(archive.end(), compressed.begin(), compressed.end());
  return true;
}

}  // namespace delta
