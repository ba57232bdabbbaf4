// SHA-256 against the published test vectors and against OpenSSL on every length around the
// block and padding boundaries, fed whole and in uneven pieces; through the processor's SHA
// extensions (where this machine has them) and through the portable code alike.
#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "delta/hash/sha256.h"
#include "delta/hash/sha256_blocks.h"

namespace {

// Runs Sha256 on the portable code while it lives, whatever the processor has.
struct PortableOnly {
  explicit PortableOnly(bool on) { delta::UsePortableSha256Only(on); }
  ~PortableOnly() { delta::UsePortableSha256Only(false); }
};

const char* PathName(bool portable) { return portable ? "portable" : "chosen at run time"; }

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
  for (bool portable : {false, true}) {
    PortableOnly path(portable);
    for (const Vector& v : vectors) {
      delta::Sha256 sha;
      for (size_t i = 0; i < v.repeat; ++i) sha.Add(v.message.data(), v.message.size());
      EXPECT_EQ(delta::HexOf(sha.Finish()), v.digest)
          << v.message.substr(0, 8) << " x" << v.repeat << ", " << PathName(portable);
    }
    // The million a's added at once: the fast path then runs many blocks in one call.
    const std::string million(1000000, 'a');
    EXPECT_EQ(delta::HexOf(delta::Sha256Of(million.data(), million.size())),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0")
        << PathName(portable);
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

std::vector<uint8_t> RandomBytes(std::mt19937& random, size_t size) {
  std::vector<uint8_t> bytes(size);
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
  return bytes;
}

// Random contents and lengths, short and multi-megabyte: both paths and OpenSSL give one digest.
TEST(Sha256, BothPathsAgreeOnRandomData) {
  std::mt19937 random(20261211);
  std::vector<size_t> sizes;
  for (int i = 0; i < 200; ++i) sizes.push_back(random() % 1001);
  sizes.push_back(3 * 1024 * 1024 + 17);
  sizes.push_back(8 * 1024 * 1024);
  for (size_t size : sizes) {
    const std::vector<uint8_t> data = RandomBytes(random, size);
    uint8_t expected[SHA256_DIGEST_LENGTH];
    SHA256(data.data(), size, expected);
    delta::Sha256Digest digests[2];
    for (bool portable : {false, true}) {
      PortableOnly path(portable);
      digests[portable] = delta::Sha256Of(data.data(), size);
    }
    ASSERT_EQ(0, std::memcmp(digests[0].data(), expected, sizeof expected)) << "size " << size;
    ASSERT_EQ(digests[0], digests[1]) << "size " << size;
  }
}

// The block functions themselves, many blocks a call from a state that is not the initial one:
// the SHA extensions' state must come out exactly as the portable code leaves it. Where the
// processor lacks them there is nothing to compare, and the test says so.
TEST(Sha256, ExtensionBlocksMatchPortableBlocks) {
  if (!delta::CpuHasShaExtensions()) GTEST_SKIP() << "this processor has no SHA extensions";
  std::mt19937 random(7);
  for (size_t count : {size_t{1}, size_t{2}, size_t{5}, size_t{1000}}) {
    const std::vector<uint8_t> blocks = RandomBytes(random, 64 * count);
    uint32_t portable[8], extensions[8];
    for (int i = 0; i < 8; ++i) portable[i] = extensions[i] = static_cast<uint32_t>(random());
    delta::CompressBlocksPortable(portable, blocks.data(), count);
    delta::CompressBlocksShaExtensions(extensions, blocks.data(), count);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(portable[i], extensions[i]) << count << " blocks, word " << i;
  }
}

}  // namespace
