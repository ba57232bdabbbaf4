// SHA-256 against the published test vectors and against OpenSSL on every length around the
// block and padding boundaries, fed whole and in uneven pieces.
#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <cstring>
#include <string>
#include <vector>

#include "delta/hash/sha256.h"

namespace {

struct Vector {
  std::string message;
  size_t repeat;
  const char* digest;
};

TEST(Sha256, PublishedVectors) {
  const Vector vectors[] = {
      {"", 1, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", 1, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1,
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"a", 1000000, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Vector& v : vectors) {
    delta::Sha256 sha;
    for (size_t i = 0; i < v.repeat; ++i) sha.Add(v.message.data(), v.message.size());
    EXPECT_EQ(delta::HexOf(sha.Finish()), v.digest) << v.message.substr(0, 8) << " x" << v.repeat;
  }
}

TEST(Sha256, AgreesWithOpenSslAroundBlockBoundaries) {
  std::vector<uint8_t> data(300);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 131 + 7);
  for (size_t size = 0; size <= data.size(); ++size) {
    uint8_t expected[SHA256_DIGEST_LENGTH];
    SHA256(data.data(), size, expected);
    const delta::Sha256Digest whole = delta::Sha256Of(data.data(), size);
    // The same bytes in pieces of 1, 2, 3, ... bytes, crossing the block edge at every offset.
    delta::Sha256 pieces;
    for (size_t at = 0, piece = 1; at < size; at += piece, ++piece) {
      pieces.Add(data.data() + at, std::min(piece, size - at));
    }
    const delta::Sha256Digest pieced = pieces.Finish();
    ASSERT_EQ(0, std::memcmp(whole.data(), expected, sizeof expected)) << "size " << size;
    ASSERT_EQ(whole, pieced) << "size " << size;
  }
}

}  // namespace
