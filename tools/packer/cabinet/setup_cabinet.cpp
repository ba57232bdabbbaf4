#include "cabinet/setup_cabinet.h"

#include <algorithm>

#include "platform/file_io.h"

namespace {

// The setup program, read front to back.
class SetupInput final : public CabinetInput {
 public:
  SetupInput(const InputFile& file, Progress* progress) : file_(file), progress_(progress) {}
  bool Read(uint8_t* buffer, size_t size, std::string& error) override {
    if (!file_.ReadAt(offset_, buffer, size, error)) return false;
    offset_ += size;
    if (progress_ != nullptr) progress_->Advance(offset_, file_.size());
    return true;
  }

 private:
  const InputFile& file_;
  Progress* progress_;
  uint64_t offset_ = 0;
};

class CabinetFile final : public CabinetOutput {
 public:
  explicit CabinetFile(StagedFile& file) : file_(file) {}
  bool Append(const uint8_t* data, size_t size, std::string& error) override {
    return file_.Write(data, size, error);
  }
  bool Overwrite(uint64_t offset, const uint8_t* data, size_t size, std::string& error) override {
    return file_.WriteAt(offset, data, size, error);
  }

 private:
  StagedFile& file_;
};

}  // namespace

int64_t ClampCabinetTime(int64_t unix_time) {
  return std::clamp(unix_time, kEarliestCabinetTime, kLatestCabinetTime);
}

bool WriteSetupCabinet(const InputFile& setup, int64_t unix_time,
                       const CabinetCompression& compression, const std::string& cabinet_path,
                       std::string& error, Progress* progress) {
  StagedFile cabinet;
  if (!cabinet.Create(cabinet_path, error)) return false;
  SetupInput input(setup, progress);
  CabinetFile output(cabinet);
  return WriteCabinet(setup.size(), ClampCabinetTime(unix_time), compression, input, output,
                      error) &&
         cabinet.Commit(error);
}
