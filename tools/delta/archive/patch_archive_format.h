// The patch archive (docs/patch-archive.md): what turns one release's tree of files into the
// next one's. A fixed header, a directory of every file of both releases, and one LZMA stream
// with the deltas and the added files in the directory's order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "delta/hash/sha256.h"

namespace delta {

constexpr uint8_t kPatchMagic[8] = {'L', 'U', 'M', 'P', 'A', 'T', 'C', 'H'};
constexpr uint32_t kPatchFormatVersion = 2;
constexpr size_t kPatchHeaderSize = 40;

// Bounds every reader checks before it trusts a number.
constexpr uint32_t kMaxEntries = 1000000;
constexpr uint64_t kMaxDirectoryBytes = 64u << 20;
constexpr size_t kMaxNameBytes = 1024;
// Files streamed whole (unchanged, added).
constexpr uint64_t kMaxStreamedFile = uint64_t{1} << 40;
// Files a delta reads or writes, held in memory while it is applied.
constexpr uint64_t kMaxPatchedFile = 0x7fffffff;

enum class EntryKind : uint8_t {
  kUnchanged = 1,  // the same bytes under the same name: copied from the previous release
  kPatched = 2,    // rebuilt from a base file of the previous release and a delta
  kAdded = 3,      // new bytes, carried whole in the stream
  kRemoved = 4,    // in the previous release only: not carried over
  kFolder = 5,     // an empty folder of the new release: made, as files make their own folders
};

struct PatchEntry {
  EntryKind kind = EntryKind::kAdded;
  std::string name;       // in the new release, or (removed) in the previous one
  std::string base_name;  // patched: the previous release's file it is rebuilt from
  uint64_t old_size = 0;  // unchanged and patched: the base's size and digest
  Sha256Digest old_digest{};
  uint64_t new_size = 0;  // unchanged, patched and added: the result's size and digest
  Sha256Digest new_digest{};
  uint64_t control_size = 0;  // patched: the delta's controls

  // Bytes this entry takes in the stream.
  uint64_t StreamBytes() const;
};

struct PatchHeader {
  uint32_t version = kPatchFormatVersion;
  uint32_t entry_count = 0;
  uint64_t directory_size = 0;
  uint64_t stream_size = 0;     // compressed, the LZMA properties included
  uint64_t stream_decoded = 0;  // the sum of every entry's StreamBytes()
};

// A relative name with '/' between its parts that every file system we write to takes as it
// stands: no empty, "." or ".." part, no control characters or characters Windows refuses, no
// part ending in a dot or a space.
bool IsValidEntryName(const std::string& name);

std::vector<uint8_t> EncodeHeader(const PatchHeader& header);
std::vector<uint8_t> EncodeDirectory(const std::vector<PatchEntry>& entries);

}  // namespace delta
