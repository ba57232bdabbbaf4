#include "update/update_maker.h"

#include "delta/archive/patch_archive_format.h"
#include "delta/engine/delta_encoder.h"
#include "delta/engine/delta_format.h"
#include "delta/engine/lzma_stream.h"
#include "delta/hash/sha256.h"
#include "update/installer_members.h"

namespace {

// One entry and its stream bytes, as a whole patch archive.
bool OneEntryArchive(const delta::PatchEntry& entry, const std::vector<uint8_t>& stream,
                     std::vector<uint8_t>& archive, std::string& error) {
  std::vector<uint8_t> compressed;
  if (!delta::CompressLzma(stream, compressed)) {
    error = "LZMA compression failed";
    return false;
  }
  const std::vector<uint8_t> directory = delta::EncodeDirectory({entry});
  delta::PatchHeader header;
  header.entry_count = 1;
  header.directory_size = directory.size();
  header.stream_size = compressed.size();
  header.stream_decoded = stream.size();
  archive = delta::EncodeHeader(header);
  archive.insert(archive.end(), directory.begin(), directory.end());
  archive.insert(archive.end(), compressed.begin(), compressed.end());
  return true;
}

}  // namespace

bool ReadPreviousRelease(const std::string& path, PreviousRelease& previous, std::string& error) {
  InstallerMembers members;
  if (!ReadInstallerMembers(path, members, error)) {
    error = "the previous installer: " + error;
    return false;
  }
  if (members.setup_type == PayloadType::kPacked || IsPatchArchive(members.archive)) {
    error = "the previous installer " + path + " is itself an update; make the update against "
            "the previous release's full installer";
    return false;
  }
  if (!ExpandSetupProgram(members, previous.setup_program, error)) {
    error = "the previous installer " + path + ": " + error;
    return false;
  }
  TreeFault fault = TreeFault::kNone;
  if (!ReadSevenZipTree(MemorySource(path + " (its archive)", members.archive), previous.tree,
                        fault, error)) {
    error = "the previous installer's archive cannot be read: " + error;
    return false;
  }
  previous.version = VersionOfTree(previous.tree);
  return true;
}

bool MakeSetupPatch(const std::vector<uint8_t>& previous_setup,
                    const std::vector<uint8_t>& new_setup, std::vector<uint8_t>& patch,
                    bool& patched, std::string& error) {
  delta::PatchEntry added;
  added.kind = delta::EntryKind::kAdded;
  added.name = kSetupPatchEntry;
  added.new_size = new_setup.size();
  added.new_digest = delta::Sha256Of(new_setup.data(), new_setup.size());
  if (!OneEntryArchive(added, new_setup, patch, error)) return false;
  patched = false;

  delta::DeltaParts parts;
  if (previous_setup.size() > delta::kMaxPatchedFile || new_setup.size() > delta::kMaxPatchedFile ||
      !delta::EncodeDelta(previous_setup.data(), previous_setup.size(), new_setup.data(),
                          new_setup.size(), parts) ||
      parts.controls.size() > delta::kMaxControlBytes) {
    return true;
  }
  delta::PatchEntry entry = added;
  entry.kind = delta::EntryKind::kPatched;
  entry.base_name = kSetupPatchEntry;
  entry.old_size = previous_setup.size();
  entry.old_digest = delta::Sha256Of(previous_setup.data(), previous_setup.size());
  entry.control_size = parts.controls.size();
  std::vector<uint8_t> stream = parts.controls;
  stream.insert(stream.end(), parts.diff.begin(), parts.diff.end());
  stream.insert(stream.end(), parts.extra.begin(), parts.extra.end());
  std::vector<uint8_t> delta_patch;
  if (!OneEntryArchive(entry, stream, delta_patch, error)) return false;
  if (delta_patch.size() < patch.size()) {
    patch.swap(delta_patch);
    patched = true;
  }
  return true;
}
