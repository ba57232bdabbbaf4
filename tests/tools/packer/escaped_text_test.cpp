// Text from files nobody vouches for, as the reports show it: nothing a terminal acts on, nothing
// that reorders text around it, and for JSON exactly the text back through a strict reader.
#include "platform/escaped_text.h"

#include <gtest/gtest.h>

#include <string>

#include "support/json_reader.h"

namespace {

TEST(EscapedText, ShowsWhatATerminalWouldActOnAsEscapes) {
  struct Case {
    std::u16string text;
    const char* escaped;
    const char* quoted;
  };
  const Case cases[] = {
      {u"LUMORA.PACKED.7Z", "LUMORA.PACKED.7Z", "\"LUMORA.PACKED.7Z\""},
      {u"1.0\x1B[2J\rverdict: accepted", "1.0\\e[2J\\rverdict: accepted",
       "\"1.0\\e[2J\\rverdict: accepted\""},
      {u"a\tb\nc", "a\\tb\\nc", "\"a\\tb\\nc\""},
      {u"\x07\x7F\x85\x9B", "\\x07\\x7F\\x85\\x9B", "\"\\x07\\x7F\\x85\\x9B\""},
      // Characters that reorder, join or hide the text around them.
      {u"ABC\u202Egpj.EXE", "ABC\\u202Egpj.EXE", "\"ABC\\u202Egpj.EXE\""},
      {u"\u200B\u2066\uFEFF", "\\u200B\\u2066\\uFEFF", "\"\\u200B\\u2066\\uFEFF\""},
      // An unpaired surrogate has no UTF-8 form.
      {std::u16string(1, u'\xD800') + u"x", "\\uD800x", "\"\\uD800x\""},
      // What is no escape stays, a Windows path included; quoted text escapes '"' and '\'.
      {u"2.0 \u03B2 \U0001F600", "2.0 \xCE\xB2 \xF0\x9F\x98\x80", "\"2.0 \xCE\xB2 \xF0\x9F\x98\x80\""},
      {u"C:\\dir\\\"x\"", "C:\\dir\\\"x\"", "\"C:\\\\dir\\\\\\\"x\\\"\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.escaped);
    EXPECT_EQ(Escaped(c.text), c.escaped);
    EXPECT_EQ(Quoted(c.text), c.quoted);
  }
  // A path from a Linux file system may hold bytes that are no UTF-8.
  EXPECT_EQ(Escaped(std::string("a\xFF\x1B b")), "a\\xFF\\e b");
  EXPECT_EQ(Quoted(std::string("\xC3")), "\"\\xC3\"");
}

TEST(EscapedText, JsonGivesTheTextBack) {
  const std::u16string texts[] = {
      u"LUMORA.PACKED.7Z",
      u"1.0\x1B[2J\rverdict: accepted\x9B",
      u"\"quoted\" \\back\\ slash /",
      u"ABC\u202Egpj.EXE \u03B2 \U0001F600",
      std::u16string(u"nul\0inside", 10),
  };
  for (const std::u16string& text : texts) {
    const std::string json_text = JsonString(text);
    for (const char c : json_text) {
      EXPECT_TRUE(static_cast<unsigned char>(c) >= 0x20) << json_text;
    }
    json::Value value;
    ASSERT_TRUE(json::Parse(json_text, value)) << json_text;
    EXPECT_EQ(value.kind, json::Value::Kind::kString);
    EXPECT_EQ(JsonString(value.text), json_text) << "the reader gives back the same text";
  }
  // Nothing JSON cannot carry reaches the reader as it is.
  EXPECT_EQ(JsonString(std::u16string(1, u'\xDC00')), "\"\xEF\xBF\xBD\"");
  EXPECT_EQ(JsonString(std::string("a\xFF")), "\"a\xEF\xBF\xBD\"");
  EXPECT_EQ(JsonString(u"\u202E"), "\"\\u202E\"");
}

}  // namespace
