#include "files/content_digest.h"

#include <ntsecapi.h>

namespace {

constexpr uint64_t kPrime = (uint64_t{1} << 61) - 1;
// Words of 7 bytes are below the prime, so they need no reduction of their own.
constexpr uint32_t kWordBytes = 7;
constexpr uint64_t kWordMask = (uint64_t{1} << 56) - 1;
// A multiple of the word, read at a time. A read that ends early (only the last one does, on a
// file) ends with a short word completed by zeros; both digests of a file read it alike.
constexpr DWORD kReadBytes = kWordBytes * 4096;

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

uint32_t NewDigestKey(uint64_t& key) {
  key = 0;
  if (!SystemFunction036(&key, sizeof(key))) {
    const DWORD error = GetLastError();
    key = 0;
    return error != 0 ? error : ERROR_GEN_FAILURE;
  }
  key &= kPrime;
  if (key == 0 || key == kPrime) key = 1;
  return ERROR_SUCCESS;
}

uint32_t ContentDigest(HANDLE file, uint64_t key, uint64_t& digest) {
  digest = 0;
  if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
    return GetLastError();
  }
  // Room for the zeros that complete a short last word, and for loading it as 8 bytes.
  uint8_t buffer[kReadBytes + sizeof(uint64_t)];
  uint64_t sum = 0;
  uint64_t length = 0;
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file, buffer, kReadBytes, &read, nullptr)) return GetLastError();
    if (read == 0) break;
    length += read;
    const uint64_t zeros = 0;
    __builtin_memcpy(buffer + read, &zeros, sizeof(zeros));
    for (DWORD at = 0; at < read; at += kWordBytes) {
      uint64_t word;
      __builtin_memcpy(&word, buffer + at, sizeof(word));
      sum = MultiplyModPrime(sum + (word & kWordMask), key);
    }
  }
  // The length tells contents apart that differ only by zeros at their end.
  digest = MultiplyModPrime(sum + (length & kPrime), key);
  return ERROR_SUCCESS;
}
