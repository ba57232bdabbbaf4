// The Linux side of signed_message.h: OpenSSL's PKCS#7 functions.
#include "platform/signed_message.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

namespace {

// Owners of what OpenSSL hands out, each freed on every path.
struct Pkcs7Owner {
  PKCS7* p = nullptr;
  ~Pkcs7Owner() { PKCS7_free(p); }
};
struct BioOwner {
  BIO* p = nullptr;
  ~BioOwner() { BIO_free(p); }
};
struct StoreOwner {
  X509_STORE* p = nullptr;
  ~StoreOwner() { X509_STORE_free(p); }
};
// The stack of signers PKCS7_get0_signers returns: the certificates stay the message's.
struct SignersOwner {
  STACK_OF(X509)* p = nullptr;
  ~SignersOwner() { sk_X509_free(p); }
};

// The length of a DER element's tag and length octets (definite lengths only), 0 when the bytes
// do not begin with one.
size_t DerHeaderSize(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  if ((data[1] & 0x80) == 0) return 2;
  const size_t octets = data[1] & 0x7F;
  return octets == 0 || octets > 4 || size < 2 + octets ? 0 : 2 + octets;
}

}  // namespace

bool ReadSignedMessage(const uint8_t* data, size_t size, SignedMessage& message,
                       std::string& error) {
  message = SignedMessage();
  ERR_clear_error();
  const unsigned char* at = data;
  Pkcs7Owner p7;
  p7.p = d2i_PKCS7(nullptr, &at, static_cast<long>(size));
  if (p7.p == nullptr || !PKCS7_type_is_signed(p7.p) || p7.p->d.sign == nullptr ||
      p7.p->d.sign->contents == nullptr) {
    error = "it is not a PKCS#7 SignedData message";
    ERR_clear_error();
    return false;
  }
  PKCS7* inner = p7.p->d.sign->contents;
  char type[128] = {};
  OBJ_obj2txt(type, sizeof(type), inner->type, 1);
  message.content_type = type;
  // Content of a type OpenSSL does not know is kept as it was encoded, which is what an
  // Authenticode signature's SpcIndirectDataContent is.
  if (PKCS7_type_is_other(inner) && inner->d.other != nullptr &&
      inner->d.other->type == V_ASN1_SEQUENCE && inner->d.other->value.sequence != nullptr) {
    const ASN1_STRING* sequence = inner->d.other->value.sequence;
    message.content.assign(sequence->data, sequence->data + sequence->length);
  }
  if (message.content.empty()) {
    error = "its signed content is missing or of type " + message.content_type;
    return false;
  }
  if (sk_PKCS7_SIGNER_INFO_num(PKCS7_get_signer_info(p7.p)) != 1) {
    error = "it does not have exactly one signer";
    return false;
  }
  SignersOwner signers;
  signers.p = PKCS7_get0_signers(p7.p, nullptr, 0);
  if (signers.p == nullptr || sk_X509_num(signers.p) != 1) {
    error = "it does not carry its signer's certificate";
    ERR_clear_error();
    return false;
  }
  const X509_NAME* subject = X509_get_subject_name(sk_X509_value(signers.p, 0));
  unsigned char* name = nullptr;
  const int name_size = i2d_X509_NAME(subject, &name);
  if (name_size > 0) message.signer_subject.assign(name, name + name_size);
  OPENSSL_free(name);

  // PKCS#7 digests the content's value without its own tag and length octets. The chain is not
  // verified (PKCS7_NOVERIFY): only the signature, with the certificate's key.
  const size_t header = DerHeaderSize(message.content.data(), message.content.size());
  BioOwner content;
  StoreOwner store;
  content.p = BIO_new_mem_buf(message.content.data() + header,
                              static_cast<int>(message.content.size() - header));
  store.p = X509_STORE_new();
  if (header == 0 || content.p == nullptr || store.p == nullptr) {
    error = "its signed content cannot be read";
    return false;
  }
  message.signature_valid =
      PKCS7_verify(p7.p, nullptr, store.p, content.p, nullptr, PKCS7_NOVERIFY | PKCS7_BINARY) == 1;
  // A failed check leaves its reasons queued; they are not this program's errors.
  ERR_clear_error();
  return true;
}
