// Text at the packer's edges: the command line and the console speak UTF-8, resource names and
// the stub's strings are UTF-16. Both conversions are strict where the text comes in and lossless
// where it goes out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The code point of well-formed UTF-8 that starts at text[i], moving i past it; false, with i
// unchanged, where no well-formed sequence starts (overlong forms, surrogates, code points above
// U+10FFFF, truncation).
bool DecodeUtf8(const std::string& text, size_t& i, uint32_t& code);
// The code point of UTF-16 at text[i], moving i past it: a surrogate pair joined, an unpaired
// surrogate returned as itself.
uint32_t DecodeUtf16(const std::u16string& text, size_t& i);
// One code point appended as UTF-8, or as UTF-16 (a pair above U+FFFF); a surrogate (for UTF-8)
// or a value above U+10FFFF, which have no such form, as U+FFFD.
void AppendUtf8(std::string& out, uint32_t code);
void AppendUtf16(std::u16string& out, uint32_t code);
// UTF-8 text as UTF-16; false on malformed UTF-8 (overlong forms, surrogates, truncation).
bool Utf8ToUtf16(const std::string& text, std::u16string& out);
// UTF-16 as UTF-8; an unpaired surrogate, which has no UTF-8 form, becomes U+FFFD.
std::string Utf16ToUtf8(const std::u16string& text);
// The text and a terminating zero unit as UTF-16LE bytes: how Windows and the stub read a string
// stored in a resource.
std::vector<uint8_t> TerminatedUtf16Bytes(const std::u16string& text);
// The other way: the UTF-16LE text the bytes begin with, up to its first zero unit or the last
// whole unit.
std::u16string TerminatedUtf16Text(const std::vector<uint8_t>& bytes);
