// Checking an installer's Authenticode signature against the file, as osslsigncode verify and
// Windows do: the certificate table holds a PKCS#7 SignedData message whose signed content
// (SpcIndirectDataContent) carries a digest of the image, SHA-1, SHA-256, SHA-384 or SHA-512.
// The table has the one shape both read: a single revision 2.0 entry that fills it, at the end
// of the file. The digest is computed again over the file as it is now (everything but the
// CheckSum field, the certificate table's directory entry and the table itself), and the
// signer's signature over the content is checked with the key of the certificate it carries. A
// file changed after signing, by a single byte, no longer matches. Whether the signer is trusted
// (its chain to a root, revocation, the time stamp) is not judged: that is the business of the
// machine that runs the installer.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_io.h"
#include "pe/pe_image.h"

struct SignatureCheck {
  enum class Outcome {
    kNone,         // the image has no certificate table
    kUnreadable,   // a table, but no Authenticode signature check can read
    kUnverified,   // a signature in a digest algorithm check does not compute
    kMismatch,     // the file is not what was signed, or the signature does not hold
    kVerified,     // the digest matches the file and the signer's signature holds
  };
  Outcome outcome = Outcome::kNone;
  std::string algorithm;         // "SHA-1", "SHA-256", "SHA-384", "SHA-512", or the algorithm's OID
  bool digest_matches = false;
  bool signer_signature_valid = false;
  std::string signer;            // the signer certificate's subject, "CN=..., O=..."
  std::string problem;           // for kUnreadable, kUnverified and kMismatch: what is wrong

  // What the file needs before it ships: nothing, or a new signature.
  bool Faulty() const { return outcome == Outcome::kUnreadable || outcome == Outcome::kMismatch; }
};

// Reads and checks the signature of image, whose certificate table (table_offset, table_size from
// its security directory) is known to lie within the file after the sections. Reads the whole
// file once.
void CheckSignature(const PeImage& image, const InputFile& file, uint32_t table_offset,
                    uint32_t table_size, SignatureCheck& check);
