// lumora-delta: the delta engine on folders, for the benchmark and the tests; not shipped.
//   lumora-delta make OLD_DIR NEW_DIR ARCHIVE   writes the patch archive that turns OLD into NEW
//   lumora-delta apply OLD_DIR ARCHIVE NEW_DIR  builds NEW_DIR (which must not exist) from them
// Exit codes: 0 done, 1 usage, 2 a file could not be read or written, 3 a base file is missing
// or differs, 4 the archive is damaged, 5 a file too large to patch in memory.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "delta/archive/directory_tree.h"
#include "delta/archive/patch_applier.h"
#include "delta/archive/patch_archive_writer.h"

namespace {

namespace fs = std::filesystem;

enum Exit { kDone = 0, kUsage = 1, kFileError = 2, kBaseMismatch = 3, kCorrupt = 4, kTooLarge = 5 };

int Make(const std::string& old_dir, const std::string& new_dir, const std::string& output) {
  delta::DirectoryTree old_tree(old_dir), new_tree(new_dir);
  std::vector<uint8_t> archive;
  delta::PatchCounts counts;
  std::string error;
  if (!delta::WritePatchArchive(old_tree, new_tree, archive, counts, error)) {
    std::fprintf(stderr, "lumora-delta: %s\n", error.c_str());
    return kFileError;
  }
  const std::string partial = output + ".partial";
  {
    std::ofstream file(fs::u8path(partial), std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(archive.data()),
               static_cast<std::streamsize>(archive.size()));
    file.close();
    std::error_code code;
    if (file.fail() || (fs::rename(fs::u8path(partial), fs::u8path(output), code), code)) {
      fs::remove(fs::u8path(partial), code);
      std::fprintf(stderr, "lumora-delta: cannot write %s\n", output.c_str());
      return kFileError;
    }
  }
  std::printf("%u unchanged, %u patched, %u added, %u removed; %llu bytes of new files, "
              "%llu bytes of deltas and added files, archive %zu bytes\n",
              counts.unchanged, counts.patched, counts.added, counts.removed,
              static_cast<unsigned long long>(counts.new_bytes),
              static_cast<unsigned long long>(counts.stream_decoded), archive.size());
  return kDone;
}

int Apply(const std::string& old_dir, const std::string& archive_path, const std::string& new_dir) {
  std::error_code code;
  if (fs::exists(fs::u8path(new_dir), code)) {
    std::fprintf(stderr, "lumora-delta: %s already exists\n", new_dir.c_str());
    return kUsage;
  }
  delta::FileReader archive(archive_path);
  if (!archive.IsOpen()) {
    std::fprintf(stderr, "lumora-delta: cannot read %s\n", archive_path.c_str());
    return kFileError;
  }
  // Built beside its place and renamed into it only when every file checked out.
  const std::string partial = new_dir + ".partial";
  fs::remove_all(fs::u8path(partial), code);
  delta::DirectoryTree old_tree(old_dir);
  delta::DirectoryWriter new_tree(partial);
  std::string detail;
  const delta::ApplyResult result =
      delta::ApplyPatchArchive(archive, old_tree, new_tree, delta::ApplyLimits{}, detail);
  if (result == delta::ApplyResult::kApplied) {
    fs::create_directories(fs::u8path(partial), code);
    fs::rename(fs::u8path(partial), fs::u8path(new_dir), code);
    if (!code) return kDone;
    detail = "cannot rename into " + new_dir;
  }
  fs::remove_all(fs::u8path(partial), code);
  std::fprintf(stderr, "lumora-delta: %s\n", detail.c_str());
  switch (result) {
    case delta::ApplyResult::kBaseMismatch: return kBaseMismatch;
    case delta::ApplyResult::kCorrupt: return kCorrupt;
    case delta::ApplyResult::kTooLarge: return kTooLarge;
    default: return kFileError;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 4 && args[0] == "make") return Make(args[1], args[2], args[3]);
  if (args.size() == 4 && args[0] == "apply") return Apply(args[1], args[2], args[3]);
  std::fprintf(stderr,
               "usage: lumora-delta make OLD_DIR NEW_DIR ARCHIVE\n"
               "       lumora-delta apply OLD_DIR ARCHIVE NEW_DIR\n");
  return kUsage;
}
