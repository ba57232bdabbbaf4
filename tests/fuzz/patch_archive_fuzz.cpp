// The patch archive's reader and applier, and the delta decoder alone, on arbitrary bytes, against
// a small previous release in memory. Whatever the bytes: no crash, no name written that could
// leave the new version's folder, no file written larger than the limit the applier was given,
// and a success only when every file written is the one its entry names.
// Input: an archive (it starts with the format's magic), or a bare delta: a 16-bit control size,
// a 16-bit new size, the controls, then the diff and extra bytes, applied to app.exe.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "delta/archive/file_tree.h"
#include "delta/archive/patch_applier.h"
#include "delta/archive/patch_archive_format.h"
#include "delta/engine/byte_stream.h"
#include "delta/engine/delta_decoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The previous release the seeds were made against (tests/fuzz/make-patch-archive-seeds makes
// the same files).
std::map<std::string, Bytes> PreviousRelease() {
  std::map<std::string, Bytes> files;
  Bytes& app = files["app.exe"];
  for (uint32_t i = 0; i < 8192; ++i) app.push_back(static_cast<uint8_t>((i * i + 3 * i) % 251));
  Bytes& library = files["lib/x.dll"];
  for (uint32_t i = 0; i < 2048; ++i) library.push_back(static_cast<uint8_t>((i * 13 % 256) ^ (i >> 5)));
  const std::string text = "Lumora fuzz tree\nLumora fuzz tree\nLumora fuzz tree\nLumora fuzz tree\n";
  files["readme.txt"] = Bytes(text.begin(), text.end());
  return files;
}

class Previous final : public delta::OldTree {
 public:
  std::unique_ptr<delta::ByteReader> Open(const std::string& name, uint64_t& size) override {
    FUZZ_CHECK(delta::IsValidEntryName(name));
    auto found = files.find(name);
    if (found == files.end()) return nullptr;
    size = found->second.size();
    return std::make_unique<delta::MemoryReader>(found->second.data(), found->second.size());
  }
  std::map<std::string, Bytes> files = PreviousRelease();
};

constexpr uint64_t kLimit = 1 << 20;

class Next final : public delta::NewTree {
 public:
  bool Begin(const std::string& name, uint64_t size) override {
    FUZZ_CHECK(delta::IsValidEntryName(name));
    FUZZ_CHECK(size <= delta::kMaxStreamedFile);
    current_ = name;
    declared_ = size;
    files[name].clear();
    return true;
  }
  bool Write(const uint8_t* bytes, size_t size) override {
    Bytes& file = files[current_];
    FUZZ_CHECK(file.size() + size <= declared_);
    file.insert(file.end(), bytes, bytes + size);
    return true;
  }
  bool End() override {
    FUZZ_CHECK(files[current_].size() == declared_);
    return true;
  }
  bool MakeFolder(const std::string& name) override {
    FUZZ_CHECK(delta::IsValidEntryName(name));
    return true;
  }
  std::map<std::string, Bytes> files;

 private:
  std::string current_;
  uint64_t declared_ = 0;
};

void FuzzArchive(const uint8_t* data, size_t size) {
  Previous previous;
  Next next;
  delta::MemoryReader reader(data, size);
  delta::ApplyLimits limits;
  limits.max_patched_file = kLimit;
  std::string detail;
  const delta::ApplyResult result =
      delta::ApplyPatchArchive(reader, previous, next, limits, detail);
  if (result == delta::ApplyResult::kApplied) {
    for (const auto& [name, bytes] : next.files) FUZZ_CHECK(bytes.size() <= delta::kMaxStreamedFile);
  }
}

void FuzzDelta(const uint8_t* data, size_t size) {
  if (size < 4) return;
  const size_t control_size = data[0] | data[1] << 8;
  const size_t new_size = data[2] | data[3] << 8;
  if (size - 4 < control_size) return;
  const Bytes old_file = PreviousRelease()["app.exe"];
  delta::MemoryReader rest(data + 4 + control_size, size - 4 - control_size);
  // Guard bytes on both sides show a write outside the new file.
  Bytes guarded(new_size + 64, 0xa5);
  delta::DecodeDelta(old_file.data(), old_file.size(), data + 4, control_size, rest,
                     guarded.data() + 32, new_size);
  for (size_t i = 0; i < 32; ++i) {
    FUZZ_CHECK(guarded[i] == 0xa5 && guarded[guarded.size() - 1 - i] == 0xa5);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size >= sizeof delta::kPatchMagic &&
      std::memcmp(data, delta::kPatchMagic, sizeof delta::kPatchMagic) == 0) {
    FuzzArchive(data, size);
  } else {
    FuzzDelta(data, size);
  }
  return 0;
}
