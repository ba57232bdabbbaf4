#include "signature/der.h"

#include "platform/utf_text.h"

namespace {

// String types a name's values come in.
constexpr uint8_t kUtf8String = 0x0C;
constexpr uint8_t kPrintableString = 0x13;
constexpr uint8_t kTeletexString = 0x14;
constexpr uint8_t kIa5String = 0x16;
constexpr uint8_t kUniversalString = 0x1C;
constexpr uint8_t kBmpString = 0x1E;

// A name's value as UTF-8. Teletex is taken as Latin-1, as certificate tools do.
std::string ValueText(const DerElement& value) {
  const uint8_t* p = value.contents;
  const size_t n = value.length;
  std::u16string units;
  switch (value.tag) {
    case kUtf8String: {
      const std::string text(p, p + n);
      if (Utf8ToUtf16(text, units)) return text;
      units.clear();
      for (size_t i = 0; i < n; ++i) units += p[i] < 0x80 ? static_cast<char16_t>(p[i]) : u'\uFFFD';
      break;
    }
    case kPrintableString:
    case kIa5String:
    case kTeletexString:
      for (size_t i = 0; i < n; ++i) units += static_cast<char16_t>(p[i]);
      break;
    case kBmpString:
      for (size_t i = 0; i + 1 < n; i += 2) units += static_cast<char16_t>((p[i] << 8) | p[i + 1]);
      break;
    case kUniversalString:
      for (size_t i = 0; i + 3 < n; i += 4) {
        const uint32_t c = (uint32_t{p[i]} << 24) | (uint32_t{p[i + 1]} << 16) |
                           (uint32_t{p[i + 2]} << 8) | p[i + 3];
        AppendUtf16(units, c);
      }
      break;
    default:
      return "(" + std::to_string(n) + " bytes)";
  }
  return Utf16ToUtf8(units);
}

const char* AttributeLabel(const std::string& oid) {
  struct Label {
    const char* oid;
    const char* label;
  };
  static const Label kLabels[] = {
      {"2.5.4.3", "CN"},  {"2.5.4.6", "C"},   {"2.5.4.7", "L"},
      {"2.5.4.8", "ST"},  {"2.5.4.9", "STREET"}, {"2.5.4.10", "O"},
      {"2.5.4.11", "OU"}, {"2.5.4.5", "SERIALNUMBER"}, {"1.2.840.113549.1.9.1", "E"},
      {"0.9.2342.19200300.100.1.25", "DC"},
  };
  for (const Label& l : kLabels) {
    if (oid == l.oid) return l.label;
  }
  return nullptr;
}

}  // namespace

bool DerReader::Next(DerElement& element) {
  if (end_ - at_ < 2) return false;
  const uint8_t tag = at_[0];
  // High tag numbers (a low five bits of 31) do not occur in what is read here.
  if ((tag & 0x1F) == 0x1F) return false;
  const uint8_t* p = at_ + 2;
  size_t length = at_[1];
  if ((length & 0x80) != 0) {
    const size_t octets = length & 0x7F;
    // Indefinite lengths (0x80) are not DER; more than four octets never fit the file.
    if (octets == 0 || octets > 4 || static_cast<size_t>(end_ - p) < octets) return false;
    length = 0;
    for (size_t i = 0; i < octets; ++i) length = (length << 8) | *p++;
  }
  if (static_cast<size_t>(end_ - p) < length) return false;
  element.tag = tag;
  element.contents = p;
  element.length = length;
  at_ = p + length;
  return true;
}

std::string OidText(const DerElement& oid) {
  if (oid.tag != kDerOid || oid.length == 0) return "";
  std::string text;
  uint64_t value = 0;
  bool first = true;
  for (size_t i = 0; i < oid.length; ++i) {
    const uint8_t b = oid.contents[i];
    if (value > (uint64_t{1} << 56)) return "";
    value = (value << 7) | (b & 0x7F);
    if ((b & 0x80) != 0) {
      if (i + 1 == oid.length) return "";
      continue;
    }
    if (first) {
      // The first number holds the first two arcs: 40 * x + y, x at most 2.
      const uint64_t x = value < 80 ? value / 40 : 2;
      text = std::to_string(x) + "." + std::to_string(value - 40 * x);
      first = false;
    } else {
      text += "." + std::to_string(value);
    }
    value = 0;
  }
  return text;
}

std::string DistinguishedNameText(const std::vector<uint8_t>& name) {
  DerReader outer(name.data(), name.size());
  DerElement sequence;
  if (!outer.Next(kDerSequence, sequence) || !outer.AtEnd()) return "";
  std::vector<std::string> parts;
  DerReader rdns(sequence);
  DerElement rdn;
  while (rdns.Next(rdn)) {
    if (rdn.tag != kDerSet) return "";
    DerReader attributes(rdn);
    DerElement attribute;
    std::string part;
    while (attributes.Next(attribute)) {
      DerReader fields(attribute);
      DerElement type, value;
      if (attribute.tag != kDerSequence || !fields.Next(kDerOid, type) || !fields.Next(value)) {
        return "";
      }
      const std::string oid = OidText(type);
      const char* label = AttributeLabel(oid);
      part += (part.empty() ? "" : " + ") + (label != nullptr ? std::string(label) : oid) + "=" +
              ValueText(value);
    }
    if (!attributes.AtEnd()) return "";
    parts.push_back(part);
  }
  if (!rdns.AtEnd()) return "";
  std::string text;
  for (size_t i = parts.size(); i-- > 0;) text += parts[i] + (i == 0 ? "" : ", ");
  // The name comes from the file; a terminal gets no control characters from it.
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return text;
}
