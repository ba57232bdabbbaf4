// The DER reading behind the signature check: elements stay within their bounds (a length past
// the end, an indefinite or oversized length is refused), object identifiers read as dotted
// decimals, and a certificate's subject reads as people see it, with the file's control
// characters kept from the terminal.
#include "signature/der.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Tlv(uint8_t tag, const Bytes& contents) {
  Bytes out = {tag};
  if (contents.size() < 0x80) {
    out.push_back(static_cast<uint8_t>(contents.size()));
  } else {
    out.push_back(0x82);
    out.push_back(static_cast<uint8_t>(contents.size() >> 8));
    out.push_back(static_cast<uint8_t>(contents.size()));
  }
  out.insert(out.end(), contents.begin(), contents.end());
  return out;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// One attribute of a name: its type's OID and a value of a string type.
Bytes Attribute(const Bytes& oid, uint8_t string_type, const Bytes& value) {
  return Tlv(kDerSequence, Join({Tlv(kDerOid, oid), Tlv(string_type, value)}));
}

const Bytes kCountry = {0x55, 0x04, 0x06}, kOrganization = {0x55, 0x04, 0x0A},
            kUnit = {0x55, 0x04, 0x0B}, kCommonName = {0x55, 0x04, 0x03},
            kLocality = {0x55, 0x04, 0x07};

TEST(OidText, DottedDecimals) {
  struct Case {
    Bytes contents;
    const char* text;
  };
  const Case cases[] = {
      {{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01}, "2.16.840.1.101.3.4.2.1"},
      {{0x2B, 0x0E, 0x03, 0x02, 0x1A}, "1.3.14.3.2.26"},
      {{0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x04}, "1.3.6.1.4.1.311.2.1.4"},
      {{0x88, 0x37, 0x03}, "2.999.3"},  // the first number holds both arcs: 80 + 999
      {{0x2B, 0x86}, ""},               // ends inside a number
      {{}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const DerElement oid{kDerOid, c.contents.data(), c.contents.size()};
    EXPECT_EQ(OidText(oid), c.text);
  }
  const Bytes sha1 = {0x2B, 0x0E, 0x03, 0x02, 0x1A};
  EXPECT_EQ(OidText(DerElement{kDerOctetString, sha1.data(), sha1.size()}), "") << "not an OID";
}

TEST(DerReader, StaysWithinItsBytes) {
  const Bytes long_form = Tlv(kDerOctetString, Bytes(300, 0x11));
  struct Case {
    const char* what;
    Bytes bytes;
    bool reads;
    size_t length;
  };
  const Case cases[] = {
      {"short length", {0x04, 0x02, 0xAA, 0xBB}, true, 2},
      {"long length", long_form, true, 300},
      {"length past the end", {0x04, 0x03, 0xAA, 0xBB}, false, 0},
      {"long length past the end", {0x04, 0x82, 0x01, 0x00, 0xAA}, false, 0},
      {"indefinite length", {0x30, 0x80, 0x00, 0x00}, false, 0},
      {"five length octets", {0x04, 0x85, 0, 0, 0, 0, 1, 0xAA}, false, 0},
      {"high tag number", {0x1F, 0x81, 0x01, 0x00}, false, 0},
      {"tag alone", {0x04}, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DerReader reader(c.bytes.data(), c.bytes.size());
    DerElement element;
    EXPECT_EQ(reader.Next(element), c.reads);
    if (c.reads) {
      EXPECT_EQ(element.length, c.length);
      EXPECT_TRUE(reader.AtEnd());
    }
  }
  // An element inside another may not reach past the outer one's end.
  const Bytes nested = {0x30, 0x03, 0x04, 0x03, 0xAA, 0xBB, 0xCC};
  DerReader outer(nested.data(), nested.size());
  DerElement sequence, inner;
  ASSERT_TRUE(outer.Next(kDerSequence, sequence));
  DerReader within(sequence);
  EXPECT_FALSE(within.Next(inner));
}

TEST(DistinguishedNameText, MostSpecificFirstAsPeopleReadIt) {
  auto name = [](std::initializer_list<Bytes> rdns) {
    Bytes sets;
    for (const Bytes& rdn : rdns) sets = Join({sets, Tlv(kDerSet, rdn)});
    return Tlv(kDerSequence, sets);
  };
  struct Case {
    const char* what;
    Bytes der;
    std::string text;
  };
  const Case cases[] = {
      {"country, organisation, common name",
       name({Attribute(kCountry, 0x13, Text("US")), Attribute(kOrganization, 0x0C, Text("Contoso Ltd")),
             Attribute(kCommonName, 0x0C, Text("Contoso Code Signing"))}),
       "CN=Contoso Code Signing, O=Contoso Ltd, C=US"},
      {"two values in one part",
       name({Join({Attribute(kUnit, 0x0C, Text("Build")), Attribute(kUnit, 0x0C, Text("Release"))})}),
       "OU=Build + OU=Release"},
      {"a BMPString", name({Attribute(kLocality, 0x1E, {0x00, 'Z', 0x00, 0xFC, 0x00, 'r'})}),
       "L=Z\xC3\xBCr"},
      {"a control character", name({Attribute(kCommonName, 0x0C, Text("a\x1B[2Jb"))}), "CN=a?[2Jb"},
      {"an attribute without a short name",
       name({Attribute({0x2A, 0x03, 0x04}, 0x0C, Text("x"))}), "1.2.3.4=x"},
      {"malformed UTF-8", name({Attribute(kCommonName, 0x0C, {'a', 0xC3})}), "CN=a\xEF\xBF\xBD"},
      {"not a name", Tlv(kDerOctetString, Text("CN=x")), ""},
      {"a part that is no set", Tlv(kDerSequence, Tlv(kDerSequence, {})), ""},
      {"trailing bytes", Join({name({Attribute(kCountry, 0x13, Text("US"))}), {0x00}}), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(DistinguishedNameText(c.der), c.text);
  }
}

}  // namespace
