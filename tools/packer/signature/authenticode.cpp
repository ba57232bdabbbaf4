#include "signature/authenticode.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/byte_order.h"
#include "signature/der.h"
#include "platform/digest.h"
#include "pe/pe_format.h"
#include "platform/signed_message.h"

namespace {

// WIN_CERTIFICATE: its length (header included), revision and type, then the certificate.
constexpr uint32_t kCertificateHeaderSize = 8;
// WIN_CERT_REVISION_2_0: the only revision Windows and osslsigncode read a signature from.
constexpr uint16_t kCertificateRevision = 0x0200;
constexpr uint16_t kCertificateTypePkcsSignedData = 0x0002;
// Signatures take a few kilobytes, with time stamps and nested signatures some tens; a table
// claiming more is not read into memory.
constexpr uint32_t kLargestCertificateTable = 16 << 20;

constexpr char kSpcIndirectData[] = "1.3.6.1.4.1.311.2.1.4";
constexpr char kSpcPeImageData[] = "1.3.6.1.4.1.311.2.1.15";
constexpr char kSha1[] = "1.3.14.3.2.26";
constexpr char kSha256[] = "2.16.840.1.101.3.4.2.1";
constexpr char kSha384[] = "2.16.840.1.101.3.4.2.2";
constexpr char kSha512[] = "2.16.840.1.101.3.4.2.3";

// The digest algorithms an Authenticode signature names, by OID, with the names reports use.
struct KnownDigest {
  const char* oid;
  DigestAlgorithm algorithm;
  const char* name;
};
constexpr KnownDigest kKnownDigests[] = {
    {kSha1, DigestAlgorithm::kSha1, "SHA-1"},
    {kSha256, DigestAlgorithm::kSha256, "SHA-256"},
    {kSha384, DigestAlgorithm::kSha384, "SHA-384"},
    {kSha512, DigestAlgorithm::kSha512, "SHA-512"},
};

// "0x0100".
std::string RevisionText(uint16_t revision) {
  char text[8];
  std::snprintf(text, sizeof(text), "0x%04X", revision);
  return text;
}

// The table as Windows and osslsigncode read it: one WIN_CERTIFICATE entry of revision 2.0
// holding a PKCS#7 message, whose length rounded up to 8 bytes is the whole table, and the table
// at the very end of the file. Anything else (a second entry, slack after the entry, bytes after
// the table) is space a signature does not cover, where data could ride along with a signature
// that still verifies: empty when the shape is right, else what is wrong.
std::string TableShapeFault(const uint8_t* table, uint32_t table_offset, uint32_t table_size,
                            uint64_t file_size) {
  if (table_size < kCertificateHeaderSize) return "its certificate table is shorter than an entry";
  const uint32_t length = Load32(table);
  if (length < kCertificateHeaderSize || length > table_size ||
      Load16(table + 6) != kCertificateTypePkcsSignedData) {
    return "its certificate table holds no PKCS#7 signature";
  }
  if (Load16(table + 4) != kCertificateRevision) {
    return "its certificate entry has revision " + RevisionText(Load16(table + 4)) +
           ", not 0x0200, the one Windows reads";
  }
  if ((uint64_t{length} + 7) / 8 * 8 != table_size) {
    return "its certificate table of " + std::to_string(table_size) +
           " bytes holds more than its one entry of " + std::to_string(length) +
           " bytes (a second entry, or bytes no signature covers)";
  }
  if (uint64_t{table_offset} + table_size != file_size) {
    return "its certificate table does not end the file: " +
           std::to_string(file_size - table_offset - table_size) +
           " bytes follow it, which no signature covers";
  }
  return "";
}

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
  const std::string shape = TableShapeFault(table.data(), table_offset, table_size, file.size());
  if (!shape.empty()) return Unreadable(check, shape);
  const uint32_t length = Load32(table.data());
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
  const KnownDigest* known = nullptr;
  for (const KnownDigest& k : kKnownDigests) {
    if (signed_digest.algorithm == k.oid) known = &k;
  }
  if (known == nullptr) {
    check.algorithm = signed_digest.algorithm;
    check.outcome = SignatureCheck::Outcome::kUnverified;
    check.problem = "its digest algorithm " + signed_digest.algorithm +
                    " is not one check computes (SHA-1, SHA-256, SHA-384, SHA-512)";
    return;
  }
  const DigestAlgorithm algorithm = known->algorithm;
  check.algorithm = known->name;
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
