// A strict reader of JSON text (RFC 8259) for the tests that read lumora-pack's reports: the
// parity test under Wine and the packer's fuzz target. It takes a whole document or nothing:
// trailing bytes, a bare control character in a string, a lone surrogate escape, invalid UTF-8,
// a number JSON does not allow, a duplicate object key, all fail. Strings come back as UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace json {

struct Value {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = Kind::kNull;
  bool boolean = false;
  double number = 0;
  std::string text;  // the number's own text too, so that integers compare exactly
  std::vector<Value> items;
  std::map<std::string, Value> members;

  // The member of an object, or a null value when there is none (or this is no object).
  const Value& operator[](const std::string& key) const {
    static const Value kMissing;
    const auto found = members.find(key);
    return found != members.end() ? found->second : kMissing;
  }
  bool IsNull() const { return kind == Kind::kNull; }
};

class Reader {
 public:
  explicit Reader(const std::string& text) : text_(text) {}

  // True when the whole text is one JSON value (with white space around it).
  bool Read(Value& value) {
    at_ = 0;
    depth_ = 0;
    Space();
    if (!ReadValue(value)) return false;
    Space();
    return at_ == text_.size();
  }

 private:
  static constexpr int kDeepest = 64;

  bool ReadValue(Value& value) {
    if (at_ >= text_.size() || ++depth_ > kDeepest) return false;
    bool ok = false;
    switch (text_[at_]) {
      case '{': ok = ReadObject(value); break;
      case '[': ok = ReadArray(value); break;
      case '"': value.kind = Value::Kind::kString; ok = ReadString(value.text); break;
      case 't': value.kind = Value::Kind::kBool; value.boolean = true; ok = Word("true"); break;
      case 'f': value.kind = Value::Kind::kBool; ok = Word("false"); break;
      case 'n': value.kind = Value::Kind::kNull; ok = Word("null"); break;
      default: ok = ReadNumber(value); break;
    }
    --depth_;
    return ok;
  }

  bool ReadObject(Value& value) {
    value.kind = Value::Kind::kObject;
    ++at_;
    Space();
    if (Peek('}')) return ++at_, true;
    for (;;) {
      std::string key;
      Space();
      if (!Peek('"') || !ReadString(key)) return false;
      Space();
      if (!Peek(':')) return false;
      ++at_;
      Space();
      Value member;
      if (!ReadValue(member) || !value.members.emplace(key, std::move(member)).second) {
        return false;
      }
      Space();
      if (Peek('}')) return ++at_, true;
      if (!Peek(',')) return false;
      ++at_;
    }
  }

  bool ReadArray(Value& value) {
    value.kind = Value::Kind::kArray;
    ++at_;
    Space();
    if (Peek(']')) return ++at_, true;
    for (;;) {
      Space();
      Value item;
      if (!ReadValue(item)) return false;
      value.items.push_back(std::move(item));
      Space();
      if (Peek(']')) return ++at_, true;
      if (!Peek(',')) return false;
      ++at_;
    }
  }

  bool Hex4(uint32_t& code) {
    if (at_ + 4 > text_.size()) return false;
    code = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[at_++];
      code <<= 4;
      if (c >= '0' && c <= '9') code |= c - '0';
      else if (c >= 'a' && c <= 'f') code |= c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') code |= c - 'A' + 10;
      else return false;
    }
    return true;
  }

  static void Utf8(std::string& out, uint32_t c) {
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

  // One UTF-8 sequence of the raw text, copied when it is well formed.
  bool CopyUtf8(std::string& out) {
    const unsigned char c = static_cast<unsigned char>(text_[at_]);
    size_t more = 0;
    uint32_t code = 0;
    if (c < 0x80) return out += text_[at_++], true;
    if ((c & 0xE0) == 0xC0) code = c & 0x1F, more = 1;
    else if ((c & 0xF0) == 0xE0) code = c & 0x0F, more = 2;
    else if ((c & 0xF8) == 0xF0) code = c & 0x07, more = 3;
    else return false;
    if (at_ + more >= text_.size()) return false;
    for (size_t k = 1; k <= more; ++k) {
      const unsigned char d = static_cast<unsigned char>(text_[at_ + k]);
      if ((d & 0xC0) != 0x80) return false;
      code = (code << 6) | (d & 0x3F);
    }
    static const uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (code < kMinimum[more] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) {
      return false;
    }
    out.append(text_, at_, more + 1);
    at_ += more + 1;
    return true;
  }

  bool ReadString(std::string& out) {
    ++at_;
    while (at_ < text_.size()) {
      const char c = text_[at_];
      if (c == '"') return ++at_, true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        if (!CopyUtf8(out)) return false;
        continue;
      }
      if (++at_ >= text_.size()) return false;
      const char e = text_[at_++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          uint32_t code = 0;
          if (!Hex4(code)) return false;
          if (code >= 0xDC00 && code < 0xE000) return false;
          if (code >= 0xD800 && code < 0xDC00) {
            uint32_t low = 0;
            if (at_ + 2 > text_.size() || text_[at_] != '\\' || text_[at_ + 1] != 'u') return false;
            at_ += 2;
            if (!Hex4(low) || low < 0xDC00 || low >= 0xE000) return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          }
          Utf8(out, code);
          break;
        }
        default: return false;
      }
    }
    return false;
  }

  bool Digits() {
    const size_t start = at_;
    while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
    return at_ > start;
  }

  bool ReadNumber(Value& value) {
    value.kind = Value::Kind::kNumber;
    const size_t start = at_;
    if (Peek('-')) ++at_;
    if (Peek('0')) {
      ++at_;
    } else if (!Digits()) {
      return false;
    }
    if (Peek('.')) {
      ++at_;
      if (!Digits()) return false;
    }
    if (Peek('e') || Peek('E')) {
      ++at_;
      if (Peek('+') || Peek('-')) ++at_;
      if (!Digits()) return false;
    }
    value.text = text_.substr(start, at_ - start);
    value.number = std::strtod(value.text.c_str(), nullptr);
    return true;
  }

  bool Word(const char* word) {
    const std::string w(word);
    if (text_.compare(at_, w.size(), w) != 0) return false;
    at_ += w.size();
    return true;
  }

  bool Peek(char c) const { return at_ < text_.size() && text_[at_] == c; }
  void Space() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
      ++at_;
    }
  }

  const std::string& text_;
  size_t at_ = 0;
  int depth_ = 0;
};

inline bool Parse(const std::string& text, Value& value) { return Reader(text).Read(value); }

}  // namespace json
