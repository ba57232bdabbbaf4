// Message digests (SHA-1, SHA-256, SHA-384, SHA-512) from the platform's own cryptography: OpenSSL's libcrypto on
// Linux, BCrypt on Windows, a DLL of the system, so that lumora-pack.exe still runs without DLLs
// beside it. check hashes installers and their members with them and recomputes the digest an
// Authenticode signature covers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class DigestAlgorithm { kSha1, kSha256, kSha384, kSha512 };

struct DigestState;

// One digest being computed. Move-only; releases what the platform handed out on destruction.
class Digest {
 public:
  Digest();
  Digest(Digest&& other) noexcept;
  Digest& operator=(Digest&& other) noexcept;
  Digest(const Digest&) = delete;
  Digest& operator=(const Digest&) = delete;
  ~Digest();

  // False with the reason when the platform cannot compute the algorithm.
  bool Start(DigestAlgorithm algorithm, std::string& error);
  void Add(const void* data, size_t size);
  // The digest of everything added; false when the platform failed on the way.
  bool Finish(std::vector<uint8_t>& digest, std::string& error);

 private:
  std::unique_ptr<DigestState> state_;
};

// Lower-case hexadecimal, as sha256sum prints digests.
std::string HexDigest(const std::vector<uint8_t>& digest);
