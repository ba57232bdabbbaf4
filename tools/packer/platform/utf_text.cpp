#include "platform/utf_text.h"

#include <cstdint>

bool DecodeUtf8(const std::string& text, size_t& i, uint32_t& code) {
  const unsigned char c = text[i];
  uint32_t value = 0;
  size_t more = 0;
  if (c < 0x80) {
    value = c;
  } else if ((c & 0xE0) == 0xC0) {
    value = c & 0x1F, more = 1;
  } else if ((c & 0xF0) == 0xE0) {
    value = c & 0x0F, more = 2;
  } else if ((c & 0xF8) == 0xF0) {
    value = c & 0x07, more = 3;
  } else {
    return false;
  }
  if (i + more >= text.size() && more != 0) return false;
  for (size_t k = 1; k <= more; ++k) {
    const unsigned char d = text[i + k];
    if ((d & 0xC0) != 0x80) return false;
    value = (value << 6) | (d & 0x3F);
  }
  static const uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
  if (value < kMinimum[more] || value > 0x10FFFF || (value >= 0xD800 && value < 0xE000)) {
    return false;
  }
  code = value;
  i += more + 1;
  return true;
}

uint32_t DecodeUtf16(const std::u16string& text, size_t& i) {
  const uint32_t c = text[i++];
  if (c >= 0xD800 && c < 0xDC00 && i < text.size() && text[i] >= 0xDC00 && text[i] < 0xE000) {
    return 0x10000 + ((c - 0xD800) << 10) + (text[i++] - 0xDC00);
  }
  return c;
}

void AppendUtf8(std::string& out, uint32_t c) {
  if ((c >= 0xD800 && c < 0xE000) || c > 0x10FFFF) c = 0xFFFD;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendUtf16(std::u16string& out, uint32_t c) {
  if (c > 0x10FFFF) c = 0xFFFD;
  if (c >= 0x10000) {
    out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
    out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
  } else {
    out += static_cast<char16_t>(c);
  }
}

bool Utf8ToUtf16(const std::string& text, std::u16string& out) {
  out.clear();
  for (size_t i = 0; i < text.size();) {
    uint32_t code = 0;
    if (!DecodeUtf8(text, i, code)) return false;
    AppendUtf16(out, code);
  }
  return true;
}

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) AppendUtf8(out, DecodeUtf16(text, i));
  return out;
}

std::vector<uint8_t> TerminatedUtf16Bytes(const std::u16string& text) {
  std::vector<uint8_t> bytes;
  bytes.reserve((text.size() + 1) * 2);
  for (char16_t unit : text + u'\0') {
    bytes.push_back(static_cast<uint8_t>(unit));
    bytes.push_back(static_cast<uint8_t>(unit >> 8));
  }
  return bytes;
}

std::u16string TerminatedUtf16Text(const std::vector<uint8_t>& bytes) {
  std::u16string text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const char16_t unit = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    if (unit == 0) break;
    text += unit;
  }
  return text;
}
