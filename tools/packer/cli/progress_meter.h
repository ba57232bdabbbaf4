// pack's progress on standard error while a large installer is written (and its setup program
// compressed): on a terminal one line redrawn in place ("lumora-pack: writing installer.exe: 37%
// (567 of 1536 MiB)"), elsewhere (a log that --progress asked for) a line at every tenth.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "platform/progress.h"

class ProgressMeter final : public Progress {
 public:
  // task: what is being done, "writing installer.exe".
  ProgressMeter(std::ostream& err, std::string task, bool terminal)
      : err_(err), task_(std::move(task)), terminal_(terminal) {}
  void Advance(uint64_t done, uint64_t total) override;
  // Ends the redrawn line; nothing when nothing was shown.
  void Finish();

 private:
  std::ostream& err_;
  std::string task_;
  bool terminal_;
  int shown_ = -1;  // the last percentage shown
};
