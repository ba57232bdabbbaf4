#include "payload/update_facts.h"

#include <algorithm>
#include <vector>

#include "delta/archive/patch_archive_format.h"
#include "delta/archive/patch_archive_reader.h"
#include "platform/utf_text.h"

namespace {

const Resource* FindMember(const PayloadLayout& layout, PayloadType type,
                           const std::u16string& name) {
  for (const Resource& r : layout.payload) {
    PayloadType found = PayloadType::kPacked;
    if (r.type.named && ParsePayloadType(r.type.name(), found) && found == type && r.name.named &&
        r.name.name() == name) {
      return &r;
    }
  }
  return nullptr;
}

bool StartsAsPatchArchive(const Resource& r, const ResourceData& data) {
  uint8_t magic[sizeof(delta::kPatchMagic)];
  std::string ignored;
  return r.size >= sizeof(magic) && data.Read(r, 0, magic, sizeof(magic), ignored) &&
         std::equal(std::begin(magic), std::end(magic), std::begin(delta::kPatchMagic));
}

// The header and directory of a patch archive held in a member; the stream is left to the
// applier.
bool ReadDirectory(const Resource& r, const ResourceData& data,
                   std::vector<delta::PatchEntry>& entries, std::string& problem) {
  std::vector<uint8_t> bytes(delta::kPatchHeaderSize);
  delta::PatchHeader header;
  if (r.size < bytes.size() || !data.Read(r, 0, bytes.data(), bytes.size(), problem)) {
    problem = "the patch archive is cut short";
    return false;
  }
  if (!delta::DecodeHeader(bytes.data(), bytes.size(), header, problem)) return false;
  if (header.directory_size + header.stream_size > r.size - bytes.size()) {
    problem = "the patch archive claims more bytes than its member holds";
    return false;
  }
  bytes.resize(static_cast<size_t>(header.directory_size));
  if (!data.Read(r, delta::kPatchHeaderSize, bytes.data(), bytes.size(), problem)) return false;
  return delta::DecodeDirectory(header, bytes.data(), bytes.size(), entries, problem);
}

std::string SetupPatchKind(const Resource& r, const ResourceData& data) {
  std::vector<delta::PatchEntry> entries;
  std::string problem;
  if (!StartsAsPatchArchive(r, data)) return "not a patch archive";
  if (!ReadDirectory(r, data, entries, problem)) return "unreadable: " + problem;
  if (entries.size() != 1 || entries[0].name != "setup.exe") {
    return "unreadable: it must hold setup.exe alone";
  }
  if (entries[0].kind == delta::EntryKind::kPatched) return "patched";
  if (entries[0].kind == delta::EntryKind::kAdded) return "added";
  return "unreadable: setup.exe is neither patched nor added";
}

}  // namespace

void ReadUpdateFacts(const PayloadLayout& layout, const ResourceData& data, UpdateFacts& facts) {
  facts = UpdateFacts();
  const PayloadVerdict& v = layout.verdict;
  if (!v.archive_found || v.archive_type != PayloadType::kPacked) return;
  const Resource* archive = FindMember(layout, v.archive_type, v.archive_name);
  if (archive == nullptr || !StartsAsPatchArchive(*archive, data)) return;
  facts.is_update = true;
  if (layout.previous_version_valid) facts.previous_version = Utf16ToUtf8(layout.previous_version);
  const Resource* setup = v.setup_found ? FindMember(layout, v.setup_type, v.setup_name) : nullptr;
  if (setup == nullptr || v.setup_type != PayloadType::kPacked) {
    facts.setup_patch = "the setup program is not a patch (B7)";
  } else {
    facts.setup_patch = SetupPatchKind(*setup, data);
  }
  std::vector<delta::PatchEntry> entries;
  if (!ReadDirectory(*archive, data, entries, facts.problem)) return;
  facts.readable = true;
  for (const delta::PatchEntry& e : entries) {
    switch (e.kind) {
      case delta::EntryKind::kUnchanged: ++facts.unchanged; break;
      case delta::EntryKind::kPatched: ++facts.patched; break;
      case delta::EntryKind::kAdded: ++facts.added; break;
      case delta::EntryKind::kRemoved: ++facts.removed; break;
    }
    if (e.kind != delta::EntryKind::kRemoved) facts.new_bytes += e.new_size;
  }
}

std::string UpdateSummary(const UpdateFacts& f) {
  std::string text = "update from " +
                     (f.previous_version.empty() ? std::string("an unnamed version")
                                                 : f.previous_version);
  if (!f.readable) return text + ": its patch archive is unreadable (" + f.problem + ")";
  return text + ": " + std::to_string(f.patched) + " patched, " + std::to_string(f.added) +
         " added, " + std::to_string(f.removed) + " removed, " + std::to_string(f.unchanged) +
         " unchanged";
}
