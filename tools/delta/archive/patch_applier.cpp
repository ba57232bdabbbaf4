// The apply runs as named steps: read the header and the directory, check every base, then
// rebuild the files in the directory's order from the one stream, checking each result before
// the next one starts.
#include "delta/archive/patch_applier.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "delta/archive/patch_archive_reader.h"
#include "delta/engine/delta_decoder.h"
#include "delta/engine/delta_format.h"
#include "delta/engine/lzma_stream.h"
#include "delta/hash/sha256.h"

namespace delta {
namespace {

constexpr size_t kCopyChunk = 1 << 20;

struct Run {
  ByteReader& archive;
  OldTree& old_tree;
  NewTree& new_tree;
  const ApplyLimits& limits;
  std::string& detail;
  std::vector<uint8_t> chunk;
  // A patched file's base and result, side by side, allocated once for the largest patched
  // file's base and result together (what that file alone needed before) and kept from one file
  // to the next: fresh buffers for every file cost a page fault for every 4 KiB of both (the
  // system hands large blocks out unmapped, and takes them back when freed).
  std::unique_ptr<uint8_t[]> files;
  size_t files_size = 0;
  size_t largest_patched = 0;  // base and result, of the patched files within the limit
};

ApplyResult Fail(Run& run, ApplyResult result, const std::string& detail) {
  run.detail = detail;
  return result;
}

ApplyResult ReadDirectory(Run& run, PatchHeader& header, std::vector<PatchEntry>& entries) {
  uint8_t header_bytes[kPatchHeaderSize];
  std::string error;
  if (!run.archive.Read(header_bytes, sizeof header_bytes) ||
      !DecodeHeader(header_bytes, sizeof header_bytes, header, error)) {
    return Fail(run, ApplyResult::kCorrupt, error.empty() ? "patch archive too short" : error);
  }
  // Read in chunks, so that a short archive claiming a large directory allocates only what it
  // holds; DecodeHeader has bounded the size.
  std::vector<uint8_t> directory;
  for (uint64_t left = header.directory_size; left > 0;) {
    const size_t take = left < kCopyChunk ? static_cast<size_t>(left) : kCopyChunk;
    directory.resize(directory.size() + take);
    if (!run.archive.Read(directory.data() + directory.size() - take, take)) {
      return Fail(run, ApplyResult::kCorrupt, "patch archive directory cut short");
    }
    left -= take;
  }
  if (!DecodeDirectory(header, directory.data(), directory.size(), entries, error)) {
    return Fail(run, ApplyResult::kCorrupt, error);
  }
  return ApplyResult::kApplied;
}

// Hashes exactly size bytes of reader; false when it cannot read them.
bool HashStream(Run& run, ByteReader& reader, uint64_t size, Sha256Digest& digest,
                NewTree* copy_to) {
  Sha256 sha;
  while (size > 0) {
    const size_t take = size < run.chunk.size() ? static_cast<size_t>(size) : run.chunk.size();
    if (!reader.Read(run.chunk.data(), take)) return false;
    sha.Add(run.chunk.data(), take);
    if (copy_to != nullptr && !copy_to->Write(run.chunk.data(), take)) return false;
    size -= take;
  }
  digest = sha.Finish();
  return true;
}

// The base of an entry, as the previous release has it: present, of the recorded size and digest.
ApplyResult CheckBase(Run& run, const PatchEntry& entry) {
  uint64_t size = 0;
  std::unique_ptr<ByteReader> reader = run.old_tree.Open(entry.base_name, size);
  if (!reader) return Fail(run, ApplyResult::kBaseMismatch, entry.base_name + " is missing");
  Sha256Digest digest;
  if (size != entry.old_size || !HashStream(run, *reader, size, digest, nullptr) ||
      digest != entry.old_digest) {
    return Fail(run, ApplyResult::kBaseMismatch, entry.base_name + " differs");
  }
  return ApplyResult::kApplied;
}

ApplyResult CopyUnchanged(Run& run, const PatchEntry& entry) {
  uint64_t size = 0;
  std::unique_ptr<ByteReader> reader = run.old_tree.Open(entry.name, size);
  if (!reader || size != entry.new_size) {
    return Fail(run, ApplyResult::kBaseMismatch, entry.name + " changed during the update");
  }
  if (!run.new_tree.Begin(entry.name, size)) {
    return Fail(run, ApplyResult::kWriteFailed, entry.name);
  }
  Sha256Digest digest;
  if (!HashStream(run, *reader, size, digest, &run.new_tree)) {
    return Fail(run, ApplyResult::kWriteFailed, entry.name);
  }
  if (digest != entry.new_digest) {
    return Fail(run, ApplyResult::kBaseMismatch, entry.name + " changed during the update");
  }
  if (!run.new_tree.End()) return Fail(run, ApplyResult::kWriteFailed, entry.name);
  return ApplyResult::kApplied;
}

ApplyResult WriteAdded(Run& run, LzmaReader& stream, const PatchEntry& entry) {
  if (!run.new_tree.Begin(entry.name, entry.new_size)) {
    return Fail(run, ApplyResult::kWriteFailed, entry.name);
  }
  Sha256 sha;
  for (uint64_t left = entry.new_size; left > 0;) {
    const size_t take = left < run.chunk.size() ? static_cast<size_t>(left) : run.chunk.size();
    if (!stream.Read(run.chunk.data(), take)) {
      return Fail(run, ApplyResult::kCorrupt, entry.name + ": stream damaged");
    }
    sha.Add(run.chunk.data(), take);
    if (!run.new_tree.Write(run.chunk.data(), take)) {
      return Fail(run, ApplyResult::kWriteFailed, entry.name);
    }
    left -= take;
  }
  if (sha.Finish() != entry.new_digest) {
    return Fail(run, ApplyResult::kCorrupt, entry.name + ": result differs from its digest");
  }
  if (!run.new_tree.End()) return Fail(run, ApplyResult::kWriteFailed, entry.name);
  return ApplyResult::kApplied;
}

// A buffer whose size comes from the archive: failure to allocate is a result, not an exception.
std::unique_ptr<uint8_t[]> Buffer(uint64_t size) {
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[size > 0 ? size : 1]);
}

ApplyResult WritePatched(Run& run, LzmaReader& stream, const PatchEntry& entry) {
  if (entry.old_size > run.limits.max_patched_file ||
      entry.new_size > run.limits.max_patched_file) {
    return Fail(run, ApplyResult::kTooLarge, entry.name);
  }
  uint64_t size = 0;
  std::unique_ptr<ByteReader> reader = run.old_tree.Open(entry.base_name, size);
  if (!reader || size != entry.old_size) {
    return Fail(run, ApplyResult::kBaseMismatch, entry.base_name + " changed during the update");
  }
  const size_t old_size = static_cast<size_t>(entry.old_size);
  const size_t new_size = static_cast<size_t>(entry.new_size);
  const size_t control_size = static_cast<size_t>(entry.control_size);
  if (old_size > SIZE_MAX - new_size) return Fail(run, ApplyResult::kTooLarge, entry.name);
  if (!run.files || old_size + new_size > run.files_size) {
    run.files.reset();  // the smaller buffer released before the larger one is allocated
    run.files_size = 0;
    // Short of memory for the largest, this file may still fit: the failure then names the file
    // that does not.
    size_t size = std::max(old_size + new_size, run.largest_patched);
    run.files = Buffer(size);
    if (!run.files && size > old_size + new_size) {
      size = old_size + new_size;
      run.files = Buffer(size);
    }
    if (run.files) run.files_size = size;
  }
  std::unique_ptr<uint8_t[]> controls = Buffer(control_size);
  if (!run.files || !controls) return Fail(run, ApplyResult::kTooLarge, entry.name);
  uint8_t* const old_file = run.files.get();
  uint8_t* const new_file = old_file + old_size;
  // Checked again as read: the delta must work on exactly the bytes the check saw.
  if (!reader->Read(old_file, old_size) || Sha256Of(old_file, old_size) != entry.old_digest) {
    return Fail(run, ApplyResult::kBaseMismatch, entry.base_name + " changed during the update");
  }
  reader.reset();
  if (!stream.Read(controls.get(), control_size)) {
    return Fail(run, ApplyResult::kCorrupt, entry.name + ": stream damaged");
  }
  const DeltaResult decoded = DecodeDelta(old_file, old_size, controls.get(), control_size, stream,
                                          new_file, new_size);
  if (decoded != DeltaResult::kRebuilt || Sha256Of(new_file, new_size) != entry.new_digest) {
    return Fail(run, ApplyResult::kCorrupt, entry.name + ": delta damaged");
  }
  if (!run.new_tree.Begin(entry.name, new_size) || !run.new_tree.Write(new_file, new_size) ||
      !run.new_tree.End()) {
    return Fail(run, ApplyResult::kWriteFailed, entry.name);
  }
  return ApplyResult::kApplied;
}

}  // namespace

ApplyResult ApplyPatchArchive(ByteReader& archive, OldTree& old_tree, NewTree& new_tree,
                              const ApplyLimits& limits, std::string& detail) {
  Run run{archive, old_tree, new_tree, limits, detail, std::vector<uint8_t>(kCopyChunk), nullptr, 0, 0};
  PatchHeader header;
  std::vector<PatchEntry> entries;
  ApplyResult result = ReadDirectory(run, header, entries);
  if (result != ApplyResult::kApplied) return result;

  for (const PatchEntry& entry : entries) {
    if (entry.kind == EntryKind::kPatched && entry.old_size <= limits.max_patched_file &&
        entry.new_size <= limits.max_patched_file && entry.old_size <= SIZE_MAX - entry.new_size) {
      run.largest_patched = std::max(run.largest_patched,
                                     static_cast<size_t>(entry.old_size + entry.new_size));
    }
  }
  for (const PatchEntry& entry : entries) {
    if (entry.kind == EntryKind::kUnchanged || entry.kind == EntryKind::kPatched) {
      result = CheckBase(run, entry);
      if (result != ApplyResult::kApplied) return result;
    }
  }

  LzmaReader stream;
  if (!stream.Start(archive, header.stream_size, header.stream_decoded)) {
    return Fail(run, ApplyResult::kCorrupt, "patch archive stream header invalid");
  }
  for (const PatchEntry& entry : entries) {
    switch (entry.kind) {
      case EntryKind::kUnchanged:
        result = CopyUnchanged(run, entry);
        break;
      case EntryKind::kPatched:
        result = WritePatched(run, stream, entry);
        break;
      case EntryKind::kAdded:
        result = WriteAdded(run, stream, entry);
        break;
      case EntryKind::kRemoved:
        result = ApplyResult::kApplied;
        break;
      case EntryKind::kFolder:
        result = run.new_tree.MakeFolder(entry.name)
                     ? ApplyResult::kApplied
                     : Fail(run, ApplyResult::kWriteFailed, entry.name);
        break;
    }
    if (result != ApplyResult::kApplied) return result;
  }
  if (!stream.Finished()) return Fail(run, ApplyResult::kCorrupt, "patch archive stream damaged");
  return ApplyResult::kApplied;
}

}  // namespace delta
