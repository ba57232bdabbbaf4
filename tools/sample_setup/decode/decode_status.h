// How decoding a folder of a 7z archive ends.
#pragma once

enum class DecodeStatus {
  kOk,
  kDamaged,            // the data contradicts its method or its sizes
  kUnsupportedMethod,  // a method (or a method's setting) that this decoder does not implement
  kTooLarge,           // the memory the folder needs is above the limit it was given
  kReadFailed,         // the archive could not be read
  kWriteFailed,        // the receiver of the decoded bytes refused them
};
