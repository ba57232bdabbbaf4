// The Linux side of digest.h: OpenSSL's EVP interface.
#include "platform/digest.h"

#include <openssl/evp.h>


struct DigestState {
  EVP_MD_CTX* context = nullptr;
  bool failed = false;
  ~DigestState() { EVP_MD_CTX_free(context); }
};

Digest::Digest() = default;
Digest::Digest(Digest&& other) noexcept = default;
Digest& Digest::operator=(Digest&& other) noexcept = default;
Digest::~Digest() = default;

bool Digest::Start(DigestAlgorithm algorithm, std::string& error) {
  state_ = std::make_unique<DigestState>();
  state_->context = EVP_MD_CTX_new();
  const EVP_MD* md = EVP_sha1();
  switch (algorithm) {
    case DigestAlgorithm::kSha1: md = EVP_sha1(); break;
    case DigestAlgorithm::kSha256: md = EVP_sha256(); break;
    case DigestAlgorithm::kSha384: md = EVP_sha384(); break;
    case DigestAlgorithm::kSha512: md = EVP_sha512(); break;
  }
  if (state_->context == nullptr || EVP_DigestInit_ex(state_->context, md, nullptr) != 1) {
    error = "OpenSSL cannot compute the digest";
    state_.reset();
    return false;
  }
  return true;
}

void Digest::Add(const void* data, size_t size) {
  if (state_ != nullptr && !state_->failed && size != 0) {
    state_->failed = EVP_DigestUpdate(state_->context, data, size) != 1;
  }
}

bool Digest::Finish(std::vector<uint8_t>& digest, std::string& error) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (state_ == nullptr || state_->failed ||
      EVP_DigestFinal_ex(state_->context, out, &size) != 1) {
    error = "OpenSSL failed computing the digest";
    return false;
  }
  digest.assign(out, out + size);
  state_.reset();
  return true;
}
