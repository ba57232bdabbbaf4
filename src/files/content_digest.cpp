#include "files/content_digest.h"

#include <ntsecapi.h>

namespace {

constexpr uint64_t kPrime = (uint64_t{1} << 61) - 1;
// Words of 7 bytes are below the prime, so they need no reduction of their own.
constexpr uint32_t kWordBytes = 7;
constexpr uint64_t kWordMask = (uint64_t{1} << 56) - 1;
// Read at a time by OfFile, on the stack.
constexpr DWORD kReadBytes = 16 * 1024;

// A number congruent to a * b modulo the prime, for a below 2^62 and b below 2^61: the product's
// high bits fold onto its low bits, since 2^61 is 1 modulo the prime. The result stays below
// 2^61 + 2, so sums of it and a word stay below 2^62. Both digests of a comparison are reduced
// the same way, so equal contents give equal numbers, and equal numbers mean equal residues.
uint64_t MultiplyModPrime(uint64_t a, uint64_t b) {
  const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
  uint64_t folded = static_cast<uint64_t>(product & kPrime) + static_cast<uint64_t>(product >> 61);
  folded = (folded & kPrime) + (folded >> 61);
  return folded;
}

}  // namespace

uint32_t ContentDigest::Start() {
  *this = ContentDigest();
  if (!SystemFunction036(&key_, sizeof(key_))) {
    const DWORD error = GetLastError();
    key_ = 0;
    return error != 0 ? error : ERROR_GEN_FAILURE;
  }
  key_ &= kPrime;
  if (key_ == 0 || key_ == kPrime) key_ = 1;
  return ERROR_SUCCESS;
}

void ContentDigest::Add(const uint8_t* bytes, size_t count) {
  length_ += count;
  for (size_t at = 0; at < count;) {
    // Whole words, loaded as 8 bytes while an eighth is there to load; the rest a byte at a time,
    // so that a word cut between two pieces counts as if it had come whole.
    if (partial_bytes_ == 0 && count - at >= sizeof(uint64_t)) {
      uint64_t word;
      __builtin_memcpy(&word, bytes + at, sizeof(word));
      sum_ = MultiplyModPrime(sum_ + (word & kWordMask), key_);
      at += kWordBytes;
      continue;
    }
    partial_ |= static_cast<uint64_t>(bytes[at++]) << (8 * partial_bytes_);
    if (++partial_bytes_ == kWordBytes) {
      sum_ = MultiplyModPrime(sum_ + partial_, key_);
      partial_ = 0;
      partial_bytes_ = 0;
    }
  }
}

uint64_t ContentDigest::Value() const {
  // A short last word counts as completed by zeros; the length tells contents apart that differ
  // only by zeros at their end.
  uint64_t sum = sum_;
  if (partial_bytes_ != 0) sum = MultiplyModPrime(sum + partial_, key_);
  return MultiplyModPrime(sum + (length_ & kPrime), key_);
}

uint32_t ContentDigest::OfFile(HANDLE file, uint64_t& digest) const {
  digest = 0;
  if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
    return GetLastError();
  }
  ContentDigest read_back = *this;
  read_back.sum_ = 0;
  read_back.length_ = 0;
  read_back.partial_ = 0;
  read_back.partial_bytes_ = 0;
  uint8_t buffer[kReadBytes];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file, buffer, kReadBytes, &read, nullptr)) return GetLastError();
    if (read == 0) break;
    read_back.Add(buffer, read);
  }
  digest = read_back.Value();
  return ERROR_SUCCESS;
}
