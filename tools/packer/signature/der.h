// Reading DER, the encoding of everything in an Authenticode signature, just far enough for what
// check reads of it: the digest the signature covers and the signer's name. The bytes come from
// files nobody vouches for: every element must lie within the one around it, lengths are definite
// and at most 32 bits, and nothing is read past the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One element: its tag and its contents (the value without tag and length octets).
struct DerElement {
  uint8_t tag = 0;
  const uint8_t* contents = nullptr;
  size_t length = 0;
};

constexpr uint8_t kDerOctetString = 0x04;
constexpr uint8_t kDerOid = 0x06;
constexpr uint8_t kDerSequence = 0x30;
constexpr uint8_t kDerSet = 0x31;

// The elements one after another within a span of bytes.
class DerReader {
 public:
  DerReader(const uint8_t* data, size_t size) : at_(data), end_(data + size) {}
  explicit DerReader(const DerElement& element)
      : DerReader(element.contents, element.length) {}
  // The next element; false at the end or on an element that does not fit.
  bool Next(DerElement& element);
  // The next element, which must have the tag.
  bool Next(uint8_t tag, DerElement& element) { return Next(element) && element.tag == tag; }
  bool AtEnd() const { return at_ == end_; }

 private:
  const uint8_t* at_;
  const uint8_t* end_;
};

// An object identifier as dotted decimals ("2.16.840.1.101.3.4.2.1"); empty when malformed.
std::string OidText(const DerElement& oid);

// An X.500 name (a certificate's subject) as people read it, most specific part first:
// "CN=Contoso Ltd, O=Contoso Ltd, C=US". Texts are UTF-8, with control characters shown as '?';
// empty when the bytes are no name.
std::string DistinguishedNameText(const std::vector<uint8_t>& name);
