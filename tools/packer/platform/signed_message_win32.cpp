// The Windows side of signed_message.h: CryptMsg and the certificate store of the system's
// crypt32.dll.
#include "platform/signed_message.h"

#include <windows.h>
#include <wincrypt.h>

#include <string>

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// Owners of what crypt32 hands out, each released on every path.
struct MessageOwner {
  HCRYPTMSG p = nullptr;
  ~MessageOwner() {
    if (p != nullptr) CryptMsgClose(p);
  }
};
struct StoreOwner {
  HCERTSTORE p = nullptr;
  ~StoreOwner() {
    if (p != nullptr) CertCloseStore(p, 0);
  }
};
struct CertificateOwner {
  PCCERT_CONTEXT p = nullptr;
  ~CertificateOwner() {
    if (p != nullptr) CertFreeCertificateContext(p);
  }
};

// A parameter of the message whose size is asked first.
bool MessageParameter(HCRYPTMSG message, DWORD type, std::vector<uint8_t>& value) {
  DWORD size = 0;
  if (!CryptMsgGetParam(message, type, 0, nullptr, &size)) return false;
  value.assign(size, 0);
  if (size != 0 && !CryptMsgGetParam(message, type, 0, value.data(), &size)) return false;
  value.resize(size);
  return true;
}

// The length of a DER element's tag and length octets (definite lengths only), 0 when the bytes
// do not begin with one; and the element's whole size.
bool DerElementSize(const std::vector<uint8_t>& bytes, size_t& whole) {
  if (bytes.size() < 2) return false;
  size_t header = 2, length = bytes[1];
  if ((bytes[1] & 0x80) != 0) {
    const size_t octets = bytes[1] & 0x7F;
    if (octets == 0 || octets > 4 || bytes.size() < 2 + octets) return false;
    length = 0;
    for (size_t i = 0; i < octets; ++i) length = (length << 8) | bytes[2 + i];
    header += octets;
  }
  whole = header + length;
  return true;
}

}  // namespace

bool ReadSignedMessage(const uint8_t* data, size_t size, SignedMessage& message,
                       std::string& error) {
  message = SignedMessage();
  MessageOwner decoded;
  decoded.p = CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr);
  if (decoded.p == nullptr ||
      !CryptMsgUpdate(decoded.p, data, static_cast<DWORD>(size), TRUE)) {
    error = "it is not a PKCS#7 SignedData message";
    return false;
  }
  DWORD type = 0, type_size = sizeof(type);
  if (!CryptMsgGetParam(decoded.p, CMSG_TYPE_PARAM, 0, &type, &type_size) || type != CMSG_SIGNED) {
    error = "it is not a PKCS#7 SignedData message";
    return false;
  }
  std::vector<uint8_t> value;
  if (MessageParameter(decoded.p, CMSG_INNER_CONTENT_TYPE_PARAM, value)) {
    message.content_type.assign(value.begin(), value.end());
    message.content_type.resize(message.content_type.find('\0') == std::string::npos
                                    ? message.content_type.size()
                                    : message.content_type.find('\0'));
  }
  // Content of a type other than data comes back as it was encoded.
  size_t whole = 0;
  if (!MessageParameter(decoded.p, CMSG_CONTENT_PARAM, message.content) ||
      !DerElementSize(message.content, whole) || whole != message.content.size()) {
    error = "its signed content is missing or of type " + message.content_type;
    return false;
  }
  DWORD signers = 0, signers_size = sizeof(signers);
  if (!CryptMsgGetParam(decoded.p, CMSG_SIGNER_COUNT_PARAM, 0, &signers, &signers_size) ||
      signers != 1) {
    error = "it does not have exactly one signer";
    return false;
  }
  std::vector<uint8_t> signer;
  StoreOwner store;
  CertificateOwner certificate;
  if (MessageParameter(decoded.p, CMSG_SIGNER_CERT_INFO_PARAM, signer)) {
    store.p = CertOpenStore(CERT_STORE_PROV_MSG, kEncoding, 0, 0, decoded.p);
  }
  if (store.p != nullptr) {
    certificate.p = CertGetSubjectCertificateFromStore(
        store.p, kEncoding, reinterpret_cast<PCERT_INFO>(signer.data()));
  }
  if (certificate.p == nullptr) {
    error = "it does not carry its signer's certificate";
    return false;
  }
  const CERT_NAME_BLOB& subject = certificate.p->pCertInfo->Subject;
  message.signer_subject.assign(subject.pbData, subject.pbData + subject.cbData);
  // The signature over the content, checked with the certificate's key alone: no chain.
  message.signature_valid =
      CryptMsgControl(decoded.p, 0, CMSG_CTRL_VERIFY_SIGNATURE, certificate.p->pCertInfo) != 0;
  return true;
}
