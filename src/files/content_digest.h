// A file's content reduced to 61 bits under a secret key: tells whether a file still holds what
// it held a moment before, against someone who may change it in between and knows what it held,
// but not the key. The digest is a polynomial in the key over the prime 2^61 - 1, whose
// coefficients are the content in 7-byte words and its length; two different contents of at most
// n words agree for at most n + 1 keys of the 2^61 - 1, so a change made without the key goes
// unseen with a chance of about 2^-37 for the largest archive. A checksum that anyone can compute
// (a CRC, a plain sum) would not do: the other party knows the genuine content and could make
// its own match it.
#pragma once

#include <windows.h>
#include <stdint.h>

// A key for ContentDigest from the system's random source: 0 and a Windows error when the source
// fails (no key is better than a guessable one).
uint32_t NewDigestKey(uint64_t& key);

// Reads the whole file from its start through handle (which must be open for reading) and sets
// digest. Returns 0 or the Windows error of the failing read.
uint32_t ContentDigest(HANDLE file, uint64_t key, uint64_t& digest);
