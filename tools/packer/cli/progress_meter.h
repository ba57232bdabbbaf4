// pack's progress on standard error while a large installer is written: on a terminal one line
// redrawn in place ("lumora-pack: writing installer.exe: 37% (567 of 1536 MiB)"), elsewhere (a
// log that --progress asked for) a line at every tenth.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "progress.h"

class ProgressMeter final : public Progress {
 public:
  ProgressMeter(std::ostream& err, std::string path, bool terminal)
      : err_(err), path_(std::move(path)), terminal_(terminal) {}
  void Advance(uint64_t done, uint64_t total) override;
  // Ends the redrawn line; nothing when nothing was shown.
  void Finish();

 private:
  std::ostream& err_;
  std::string path_;
  bool terminal_;
  int shown_ = -1;  // the last percentage shown
};
