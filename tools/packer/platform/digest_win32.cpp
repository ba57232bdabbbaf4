// The Windows side of digest.h: BCrypt, from the system's bcrypt.dll.
#include "platform/digest.h"

#include <windows.h>
#include <bcrypt.h>


struct DigestState {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool failed = false;
  ~DigestState() {
    if (hash != nullptr) BCryptDestroyHash(hash);
    if (algorithm != nullptr) BCryptCloseAlgorithmProvider(algorithm, 0);
  }
};

Digest::Digest() = default;
Digest::Digest(Digest&& other) noexcept = default;
Digest& Digest::operator=(Digest&& other) noexcept = default;
Digest::~Digest() = default;

bool Digest::Start(DigestAlgorithm algorithm, std::string& error) {
  state_ = std::make_unique<DigestState>();
  const wchar_t* name = BCRYPT_SHA1_ALGORITHM;
  switch (algorithm) {
    case DigestAlgorithm::kSha1: name = BCRYPT_SHA1_ALGORITHM; break;
    case DigestAlgorithm::kSha256: name = BCRYPT_SHA256_ALGORITHM; break;
    case DigestAlgorithm::kSha384: name = BCRYPT_SHA384_ALGORITHM; break;
    case DigestAlgorithm::kSha512: name = BCRYPT_SHA512_ALGORITHM; break;
  }
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&state_->algorithm, name, nullptr, 0)) ||
      !BCRYPT_SUCCESS(BCryptCreateHash(state_->algorithm, &state_->hash, nullptr, 0, nullptr, 0,
                                       0))) {
    error = "BCrypt cannot compute the digest";
    state_.reset();
    return false;
  }
  return true;
}

void Digest::Add(const void* data, size_t size) {
  // BCryptHashData takes 32-bit counts.
  const auto* bytes = static_cast<const uint8_t*>(data);
  while (state_ != nullptr && !state_->failed && size != 0) {
    const ULONG n = size < 0x40000000 ? static_cast<ULONG>(size) : 0x40000000;
    state_->failed = !BCRYPT_SUCCESS(
        BCryptHashData(state_->hash, const_cast<PUCHAR>(bytes), n, 0));
    bytes += n;
    size -= n;
  }
}

bool Digest::Finish(std::vector<uint8_t>& digest, std::string& error) {
  DWORD size = 0, got = 0;
  if (state_ == nullptr || state_->failed ||
      !BCRYPT_SUCCESS(BCryptGetProperty(state_->algorithm, BCRYPT_HASH_LENGTH,
                                        reinterpret_cast<PUCHAR>(&size), sizeof(size), &got, 0))) {
    error = "BCrypt failed computing the digest";
    return false;
  }
  digest.assign(size, 0);
  if (!BCRYPT_SUCCESS(BCryptFinishHash(state_->hash, digest.data(), size, 0))) {
    error = "BCrypt failed computing the digest";
    return false;
  }
  state_.reset();
  return true;
}
