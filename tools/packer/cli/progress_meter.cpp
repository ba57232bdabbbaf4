#include "cli/progress_meter.h"

void ProgressMeter::Advance(uint64_t done, uint64_t total) {
  if (total == 0) return;
  const int percent = static_cast<int>(done * 100 / total);
  // A terminal gets every percent; a log only every tenth, so that it stays short.
  const int step = terminal_ ? 1 : 10;
  if (percent / step == shown_ / step && shown_ >= 0) return;
  shown_ = percent;
  err_ << (terminal_ ? "\r" : "") << "lumora-pack: " << task_ << ": " << percent << "% ("
       << (done >> 20) << " of " << (total >> 20) << " MiB)" << (terminal_ ? "" : "\n");
  err_.flush();
}

void ProgressMeter::Finish() {
  if (terminal_ && shown_ >= 0) err_ << "\n";
  err_.flush();
}
