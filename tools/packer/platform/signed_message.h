// A PKCS#7 SignedData message, as an Authenticode signature carries one in a PE image's
// certificate table, opened with the platform's own cryptography (OpenSSL's libcrypto on Linux,
// CryptMsg of the system's crypt32.dll on Windows). The platform checks the one signer's
// signature over the signed content with the key of the signer's certificate, carried in the
// message; what the content says (the image's digest) is read by the caller. Whether the
// certificate chains to a trusted root is not judged: that depends on the machine that runs the
// installer, not on the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct SignedMessage {
  std::string content_type;             // the signed content's type, as a dotted OID
  std::vector<uint8_t> content;         // the signed content, its DER encoding whole
  std::vector<uint8_t> signer_subject;  // the signer certificate's subject name, DER
  bool signature_valid = false;         // the signer's signature over the content holds
};

// False with the reason when the bytes are no SignedData message with exactly one signer whose
// certificate it carries. The reason is the same on both platforms, so that both builds report
// alike.
bool ReadSignedMessage(const uint8_t* data, size_t size, SignedMessage& message,
                       std::string& error);
