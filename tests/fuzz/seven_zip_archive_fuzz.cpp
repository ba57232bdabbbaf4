// The setup program's 7z reader and decoder on arbitrary archives: the header read (compressed
// headers decoded), every folder decoded into its files. Nothing may crash; a listing that comes
// back holds only names that stay inside the installation folder and no more files than the
// bound; a folder is decoded only within the memory it was given, which is what the decoder's
// allocations then stay below (the run's malloc limit catches one that does not); and the
// receiver sees each file of a folder once, in order, with exactly its size in bytes.
#include <cstring>

#include "decode/byte_source.h"
#include "decode/folder_decoder.h"
#include "fuzz_support.h"
#include "seven_zip/archive.h"
#include "seven_zip/folder_extraction.h"
#include "seven_zip/safe_entry_name.h"

namespace {

// Well below the run's malloc limit: a folder that declares more is refused before it allocates.
constexpr uint64_t kMemoryLimit = uint64_t{64} << 20;
// Decoding stops after this much output, so that one input cannot run for long.
constexpr uint64_t kOutputLimit = uint64_t{64} << 20;

class CheckingReceiver : public SevenZipFileReceiver {
 public:
  CheckingReceiver(const SevenZipArchive& archive, size_t folder)
      : archive_(archive), folder_(folder) {}
  SevenZipStatus Begin(size_t index) override {
    FUZZ_CHECK(!open_);
    FUZZ_CHECK(index < archive_.files.size() && archive_.files[index].folder == folder_);
    FUZZ_CHECK(!began_any_ || index > last_);
    began_any_ = open_ = true;
    last_ = index;
    written_ = 0;
    return SevenZipStatus::kOk;
  }
  SevenZipStatus Write(const unsigned char* data, size_t size) override {
    FUZZ_CHECK(open_ && data != nullptr);
    written_ += size;
    total_ += size;
    FUZZ_CHECK(written_ <= archive_.files[last_].size);
    return total_ > kOutputLimit ? SevenZipStatus::kWriteFailed : SevenZipStatus::kOk;
  }
  SevenZipStatus End(size_t index) override {
    FUZZ_CHECK(open_ && index == last_ && written_ == archive_.files[index].size);
    open_ = false;
    return SevenZipStatus::kOk;
  }

  uint64_t total_ = 0;

 private:
  const SevenZipArchive& archive_;
  const size_t folder_;
  bool open_ = false;
  bool began_any_ = false;
  size_t last_ = 0;
  uint64_t written_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryArchiveSource source(data, size);
  SevenZipArchive archive;
  const SevenZipStatus status = OpenSevenZip(source, archive);
  if (status != SevenZipStatus::kOk) {
    FUZZ_CHECK(archive.files.empty() && archive.folders.empty());
    return 0;
  }
  FUZZ_CHECK(archive.files.size() <= kSevenZipMaxFiles);
  for (const SevenZipFile& file : archive.files) {
    FUZZ_CHECK(IsSafeEntryName(file.name));
    FUZZ_CHECK(file.folder == kNoFolder || file.folder < archive.folders.size());
  }
  for (size_t i = 0; i < archive.packed_offsets.size(); ++i) {
    FUZZ_CHECK(archive.packed_offsets[i] >= kSevenZipStartHeaderSize);
    FUZZ_CHECK(archive.packed_sizes[i] <= size - archive.packed_offsets[i]);
  }
  uint64_t total = 0;
  for (size_t f = 0; f < archive.folders.size() && total <= kOutputLimit; ++f) {
    CheckingReceiver receiver(archive, f);
    const SevenZipStatus extracted = ExtractFolder(source, archive, f, kMemoryLimit, receiver);
    total += receiver.total_;
    if (extracted == SevenZipStatus::kOk) continue;
    if (CheckFolderCoding(archive.folders[f].coding) == DecodeStatus::kOk &&
        FolderMemory(archive.folders[f].coding) > kMemoryLimit) {
      FUZZ_CHECK(extracted == SevenZipStatus::kTooLarge);
    }
  }
  return 0;
}
