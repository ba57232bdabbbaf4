#include "signature/authenticode.h"

#include <algorithm>
#include <vector>

#include "platform/byte_order.h"
#include "signature/der.h"
#include "platform/digest.h"
#include "pe/pe_format.h"
#include "platform/signed_message.h"

namespace {

// WIN_CERTIFICATE: its length (header included), revision and type, then the certificate.
constexpr uint32_t kCertificateHeaderSize = 8;
constexpr uint16_t kCertificateTypePkcsSignedData = 0x0002;
// Signatures take a few kilobytes, with time stamps and nested signatures some tens; a table
// claiming more is not read into memory.
constexpr uint32_t kLargestCertificateTable = 16 << 20;

constexpr char kSpcIndirectData[] = "1.3.6.1.4.1.311.2.1.4";
constexpr char kSpcPeImageData[] = "1.3.6.1.4.1.311.2.1.15";
constexpr char kSha1[] = "1.3.14.3.2.26";
constexpr char kSha256[] = "2.16.840.1.101.3.4.2.1";

// What SpcIndirectDataContent says: the kind of data signed, and its digest.
struct SignedDigest {
  std::string data_type;
  std::string algorithm;  // OID
  std::vector<uint8_t> digest;
};

bool ReadSignedDigest(const std::vector<uint8_t>& content, SignedDigest& signed_digest) {
  DerReader whole(content.data(), content.size());
  DerElement indirect, data, type, message_digest, algorithm, oid, digest;
  if (!whole.Next(kDerSequence, indirect) || !whole.AtEnd()) return false;
  DerReader parts(indirect);
  if (!parts.Next(kDerSequence, data) || !parts.Next(kDerSequence, message_digest)) return false;
  DerReader data_fields(data), digest_fields(message_digest);
  if (!data_fields.Next(kDerOid, type) || !digest_fields.Next(kDerSequence, algorithm) ||
      !digest_fields.Next(kDerOctetString, digest)) {
    return false;
  }
  DerReader algorithm_fields(algorithm);
  if (!algorithm_fields.Next(kDerOid, oid)) return false;
  signed_digest.data_type = OidText(type);
  signed_digest.algorithm = OidText(oid);
  signed_digest.digest.assign(digest.contents, digest.contents + digest.length);
  return true;
}

// The Authenticode digest of the image: the file's bytes but the CheckSum field, the certificate
// table's directory entry and the certificate table, in file order.
bool ImageDigest(const PeImage& image, const InputFile& file, DigestAlgorithm algorithm,
                 uint32_t table_offset, uint32_t table_size, std::vector<uint8_t>& digest,
                 std::string& error) {
  const uint64_t checksum = image.ChecksumOffset();
  const uint64_t entry =
      image.data_directory_offset + uint64_t{kDirectoryEntrySize} * kDirectorySecurity;
  struct Range {
    uint64_t from, to;
  };
  const Range skipped[] = {{checksum, checksum + 4},
                           {entry, entry + kDirectoryEntrySize},
                           {table_offset, uint64_t{table_offset} + table_size}};
  Digest hash;
  if (!hash.Start(algorithm, error)) return false;
  std::vector<uint8_t> buffer(kCopyChunk);
  uint64_t at = 0;
  for (const Range& skip : skipped) {
    while (at < skip.from) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), skip.from - at));
      if (!file.ReadAt(at, buffer.data(), n, error)) return false;
      hash.Add(buffer.data(), n);
      at += n;
    }
    at = std::max(at, skip.to);
  }
  while (at < file.size()) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), file.size() - at));
    if (!file.ReadAt(at, buffer.data(), n, error)) return false;
    hash.Add(buffer.data(), n);
    at += n;
  }
  return hash.Finish(digest, error);
}

void Unreadable(SignatureCheck& check, const std::string& problem) {
  check.outcome = SignatureCheck::Outcome::kUnreadable;
  check.problem = problem;
}

}  // namespace

void CheckSignature(const PeImage& image, const InputFile& file, uint32_t table_offset,
                    uint32_t table_size, SignatureCheck& check) {
  check = SignatureCheck();
  if (table_offset == 0 && table_size == 0) return;
  if (table_size > kLargestCertificateTable) {
    return Unreadable(check, "its certificate table of " + std::to_string(table_size) +
                                 " bytes is larger than any signature");
  }
  std::vector<uint8_t> table(table_size);
  std::string error;
  if (!file.ReadAt(table_offset, table.data(), table.size(), error)) {
    return Unreadable(check, error);
  }
  const uint32_t length = Load32(table.data());
  if (length < kCertificateHeaderSize || length > table_size ||
      Load16(table.data() + 6) != kCertificateTypePkcsSignedData) {
    return Unreadable(check, "its certificate table holds no PKCS#7 signature");
  }
  SignedMessage message;
  if (!ReadSignedMessage(table.data() + kCertificateHeaderSize, length - kCertificateHeaderSize,
                         message, error)) {
    return Unreadable(check, "its signature cannot be read: " + error);
  }
  SignedDigest signed_digest;
  if (message.content_type != kSpcIndirectData ||
      !ReadSignedDigest(message.content, signed_digest)) {
    return Unreadable(check, "its signature is not an Authenticode signature (content type " +
                                 message.content_type + ")");
  }
  if (signed_digest.data_type != kSpcPeImageData) {
    return Unreadable(check, "its signature signs data of type " + signed_digest.data_type +
                                 ", not a PE image");
  }
  check.signer = DistinguishedNameText(message.signer_subject);
  check.signer_signature_valid = message.signature_valid;
  DigestAlgorithm algorithm;
  if (signed_digest.algorithm == kSha256) {
    algorithm = DigestAlgorithm::kSha256;
    check.algorithm = "SHA-256";
  } else if (signed_digest.algorithm == kSha1) {
    algorithm = DigestAlgorithm::kSha1;
    check.algorithm = "SHA-1";
  } else {
    check.algorithm = signed_digest.algorithm;
    check.outcome = SignatureCheck::Outcome::kUnverified;
    check.problem = "its digest algorithm " + signed_digest.algorithm +
                    " is not one check computes (SHA-256, SHA-1)";
    return;
  }
  std::vector<uint8_t> digest;
  if (!ImageDigest(image, file, algorithm, table_offset, table_size, digest, error)) {
    check.outcome = SignatureCheck::Outcome::kUnverified;
    check.problem = error;
    return;
  }
  check.digest_matches = digest == signed_digest.digest;
  if (!check.digest_matches) {
    check.outcome = SignatureCheck::Outcome::kMismatch;
    check.problem = "the file's " + check.algorithm + " digest does not match the signed one: "
                    "the file was changed after it was signed";
  } else if (!check.signer_signature_valid) {
    check.outcome = SignatureCheck::Outcome::kMismatch;
    check.problem = "the signer's signature does not hold for what it signs";
  } else {
    check.outcome = SignatureCheck::Outcome::kVerified;
  }
}
