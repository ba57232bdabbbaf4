// A file's content reduced to 61 bits under a secret key: tells whether a file holds what was
// written into it, against someone who may change it in between and knows what it held, but not
// the key. It serves where the genuine bytes are nowhere in memory to compare with: the setup
// program that the cabinet library expands. The digest is a polynomial in the key over the prime
// 2^61 - 1, whose coefficients are the content in 7-byte words and its length; two different
// contents of at most n words agree for at most n + 1 keys of the 2^61 - 1, so a change made
// without the key goes unseen with a chance below 2^-37 for a file of 128 MiB. A checksum that
// anyone can compute (a CRC, a plain sum) would not do: the other party knows the genuine content
// and could make its own match it. About one 128-bit multiplication per 7 bytes: fine for a setup
// program of a few MiB, too slow for the archive, which is compared with its resource instead
// (content_match.h).
#pragma once

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

class ContentDigest {
 public:
  // Draws a new key from the system's random source and forgets what was added: 0, or a Windows
  // error when the source fails (no key is better than a guessable one).
  uint32_t Start();
  // Adds bytes after those added before; how the content is cut into pieces does not matter.
  void Add(const uint8_t* bytes, size_t count);
  // The digest of everything added so far.
  uint64_t Value() const;
  // The digest, under the same key, of what file holds from its start to its end (the handle must
  // be open for reading; its file pointer moves). 0, or the Windows error of a failing read.
  uint32_t OfFile(HANDLE file, uint64_t& digest) const;

 private:
  uint64_t key_ = 0;
  uint64_t sum_ = 0;
  uint64_t length_ = 0;
  // The bytes of a word not yet complete, in the low bytes, and how many there are.
  uint64_t partial_ = 0;
  uint32_t partial_bytes_ = 0;
};
