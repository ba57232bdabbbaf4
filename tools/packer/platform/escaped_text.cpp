#include "platform/escaped_text.h"

#include <cstdint>
#include <cstdio>

#include "platform/utf_text.h"

namespace {

bool IsControl(uint32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

// Characters that change how the text around them is shown without showing themselves.
bool IsLayoutControl(uint32_t c) {
  return (c >= 0x200B && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2060 && c <= 0x2064) || (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

bool IsSurrogate(uint32_t c) { return c >= 0xD800 && c < 0xE000; }

std::string Hex(const char* format, uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof(text), format, static_cast<unsigned>(value));
  return text;
}

// Decodes one code point of UTF-8 at i (moving i past it); false for a byte that does not start
// a well-formed sequence, which is then skipped alone.
bool NextCodePoint(const std::string& text, size_t& i, uint32_t& code) {
  if (DecodeUtf8(text, i, code)) return true;
  ++i;
  return false;
}

void AppendShown(std::string& out, uint32_t c, bool quoted) {
  if ((c == '"' || c == '\\') && quoted) {
    out += '\\';
    out += static_cast<char>(c);
    return;
  }
  switch (c) {
    case '\n': out += "\\n"; return;
    case '\r': out += "\\r"; return;
    case '\t': out += "\\t"; return;
    case 0x1B: out += "\\e"; return;
    default: break;
  }
  if (IsControl(c)) {
    out += Hex("\\x%02X", c);
  } else if (IsLayoutControl(c) || IsSurrogate(c)) {
    out += Hex("\\u%04X", c);
  } else {
    AppendUtf8(out, c);
  }
}

void AppendJson(std::string& out, uint32_t c) {
  switch (c) {
    case '"': out += "\\\""; return;
    case '\\': out += "\\\\"; return;
    case '\n': out += "\\n"; return;
    case '\r': out += "\\r"; return;
    case '\t': out += "\\t"; return;
    default: break;
  }
  if (IsSurrogate(c)) c = 0xFFFD;
  if (IsControl(c) || IsLayoutControl(c)) {
    out += Hex("\\u%04X", c);
  } else {
    AppendUtf8(out, c);
  }
}

std::string Shown(const std::u16string& text, bool quoted) {
  std::string out;
  for (size_t i = 0; i < text.size();) AppendShown(out, DecodeUtf16(text, i), quoted);
  return out;
}

std::string Shown(const std::string& utf8, bool quoted) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    const size_t at = i;
    uint32_t c = 0;
    if (NextCodePoint(utf8, i, c)) {
      AppendShown(out, c, quoted);
    } else {
      out += Hex("\\x%02X", static_cast<unsigned char>(utf8[at]));
    }
  }
  return out;
}

}  // namespace

std::string Escaped(const std::u16string& text) { return Shown(text, false); }
std::string Quoted(const std::u16string& text) { return "\"" + Shown(text, true) + "\""; }
std::string Escaped(const std::string& utf8) { return Shown(utf8, false); }
std::string Quoted(const std::string& utf8) { return "\"" + Shown(utf8, true) + "\""; }

std::string JsonString(const std::u16string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) AppendJson(out, DecodeUtf16(text, i));
  return out + "\"";
}

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (size_t i = 0; i < utf8.size();) {
    uint32_t c = 0;
    AppendJson(out, NextCodePoint(utf8, i, c) ? c : 0xFFFD);
  }
  return out + "\"";
}
