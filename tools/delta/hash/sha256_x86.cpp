// SHA-256's compression with the x86 SHA extensions. SHA256RNDS2 runs two rounds on the state held
// as two registers, ABEF and CDGH; SHA256MSG1 and SHA256MSG2 extend the message schedule four
// words at a time. Compiled for those instructions function by function, so that the rest of the
// program still runs on processors without them: the caller asks CpuHasShaExtensions() first.
#include "delta/hash/sha256_blocks.h"

#if defined(__x86_64__) || defined(__i386__)

#include <cpuid.h>
#include <immintrin.h>

namespace delta {
namespace {

alignas(16) constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr unsigned kCpuidSsse3 = 1u << 9;     // leaf 1, ECX
constexpr unsigned kCpuidSse41 = 1u << 19;    // leaf 1, ECX
constexpr unsigned kCpuidSha = 1u << 29;      // leaf 7 sub-leaf 0, EBX

}  // namespace

bool CpuHasShaExtensions() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  if ((ecx & (kCpuidSsse3 | kCpuidSse41)) != (kCpuidSsse3 | kCpuidSse41)) return false;
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  return (ebx & kCpuidSha) != 0;
}

__attribute__((target("sha,sse4.1,ssse3"))) void CompressBlocksShaExtensions(
    uint32_t state[8], const uint8_t* blocks, size_t count) {
  // The message's words are big-endian: reverse the bytes within each 32-bit lane.
  const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  // state[0..3] is a b c d (lane 0 first), state[4..7] e f g h; the round instruction wants
  // lanes 3..0 as A B E F and C D G H.
  __m128i abcd = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  __m128i efgh = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
  const __m128i badc = _mm_shuffle_epi32(abcd, 0xB1);  // lanes: b a d c
  const __m128i hgfe = _mm_shuffle_epi32(efgh, 0x1B);  // lanes: h g f e
  __m128i abef = _mm_alignr_epi8(badc, hgfe, 8);       // lanes: f e b a
  __m128i cdgh = _mm_blend_epi16(hgfe, badc, 0xF0);    // lanes: h g d c

  for (; count > 0; --count, blocks += 64) {
    const __m128i abef_before = abef;
    const __m128i cdgh_before = cdgh;
    // w[g % 4] holds the schedule's words 4g..4g+3 (lane 0 first).
    __m128i w[4];
    for (int i = 0; i < 4; ++i) {
      w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)),
                              byte_swap);
    }
#pragma GCC unroll 16
    for (int g = 0; g < 16; ++g) {
      if (g >= 4) {
        // W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16], for t = 4g..4g+3: MSG1 adds
        // s0(W[t-15]) to W[t-16], the add brings W[t-7] (words 4g-7..4g-4, straddling two
        // registers), MSG2 adds s1(W[t-2]), feeding its first two results into the last two.
        __m128i next = _mm_sha256msg1_epu32(w[g & 3], w[(g + 1) & 3]);
        next = _mm_add_epi32(next, _mm_alignr_epi8(w[(g + 3) & 3], w[(g + 2) & 3], 4));
        w[g & 3] = _mm_sha256msg2_epu32(next, w[(g + 3) & 3]);
      }
      const __m128i wk = _mm_add_epi32(
          w[g & 3], _mm_load_si128(reinterpret_cast<const __m128i*>(kRound + 4 * g)));
      // Two rounds take the low two lanes; each call leaves the new ABEF, and the old ABEF is
      // the new CDGH, so the registers swap roles between the calls.
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(wk, 0x0E));
    }
    abef = _mm_add_epi32(abef, abef_before);
    cdgh = _mm_add_epi32(cdgh, cdgh_before);
  }

  const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);  // lanes: a b e f
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);  // lanes: g h c d
  abcd = _mm_blend_epi16(feba, dchg, 0xF0);            // lanes: a b c d
  efgh = _mm_alignr_epi8(dchg, feba, 8);               // lanes: e f g h
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), abcd);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), efgh);
}

}  // namespace delta

#else  // Not x86: the portable code always.

namespace delta {

bool CpuHasShaExtensions() { return false; }

void CompressBlocksShaExtensions(uint32_t state[8], const uint8_t* blocks, size_t count) {
  CompressBlocksPortable(state, blocks, count);
}

}  // namespace delta

#endif
