#include "files/content_match.h"

#include <emmintrin.h>

#include "base/owner.h"

namespace {

// Whether count bytes at a and b are equal. The differences of a whole run of 64 bytes are
// gathered before they are tested, so that the loop does no more than load and combine: the
// stub is compiled for size, and a byte loop that stops at the first difference would run at a
// fraction of the speed at which the file arrives from the cache.
bool SameBytes(const uint8_t* a, const uint8_t* b, size_t count) {
  size_t at = 0;
  for (; at + 64 <= count; at += 64) {
    __m128i differ = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + at)),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + at)));
    for (size_t lane = 16; lane < 64; lane += 16) {
      differ = _mm_or_si128(
          differ,
          _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + at + lane)),
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + at + lane))));
    }
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(differ, _mm_setzero_si128())) != 0xFFFF) return false;
  }
  for (; at < count; ++at) {
    if (a[at] != b[at]) return false;
  }
  return true;
}

}  // namespace

uint32_t MatchContent(HANDLE file, const uint8_t* genuine, uint64_t size) {
  if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
    return GetLastError();
  }
  const HeapMemory<uint8_t> buffer(
      static_cast<uint8_t*>(HeapAlloc(GetProcessHeap(), 0, kContentMatchReadBytes)));
  if (!buffer.IsValid()) return ERROR_NOT_ENOUGH_MEMORY;
  uint64_t compared = 0;
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file, buffer.Get(), kContentMatchReadBytes, &read, nullptr)) {
      return GetLastError();
    }
    if (read == 0) break;
    // Longer than genuine: the read that goes past its end differs.
    if (read > size - compared || !SameBytes(buffer.Get(), genuine + compared, read)) {
      return ERROR_FILE_INVALID;
    }
    compared += read;
  }
  return compared == size ? ERROR_SUCCESS : ERROR_FILE_INVALID;
}
