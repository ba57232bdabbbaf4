#include "decode/input_buffer.h"

DecodeStatus InputBuffer::Refill() {
  if (position_ < end_) return DecodeStatus::kOk;
  position_ = 0;
  end_ = 0;
  size_t produced = 0;
  const DecodeStatus status = in_.Read(data_.data(), data_.size(), produced);
  end_ = produced;
  return status;
}

DecodeStatus InputBuffer::Byte(unsigned char& value) {
  const DecodeStatus status = Refill();
  if (status != DecodeStatus::kOk) return status;
  if (available() == 0) return DecodeStatus::kDamaged;
  value = data_[position_++];
  return DecodeStatus::kOk;
}
