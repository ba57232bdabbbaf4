// Text taken from files nobody vouches for (resource names, version texts, the previous version,
// a section's name) and from paths, made safe to print. Written raw, a name holding ESC or CR
// could move the cursor, clear the screen or draw a fake "verdict: accepted" over the report;
// one holding a right-to-left override could show its letters in another order. Every report
// and message shows such text through these functions: for people quoted and escaped, for
// programs as a JSON string.
#pragma once

#include <string>

// The text with every character that a terminal would act on or that changes how text around it
// is shown written as an escape instead: the control characters (C0, DEL, C1) as \xHH (\n, \r,
// \t, \e by their names), the characters that reorder, join or hide text (U+200B to U+200F,
// U+202A to U+202E, U+2060 to U+2064, U+2066 to U+2069, U+FEFF) and unpaired surrogates as
// \uHHHH. Anything else is kept, as UTF-8, a backslash too, so that a Windows path reads as one.
std::string Escaped(const std::u16string& text);
// The same between double quotes, with '"' and '\' escaped too, so that the quoted text reads
// back unambiguously.
std::string Quoted(const std::u16string& text);
// The same for UTF-8 text (a path): a byte that is no part of valid UTF-8 is shown as \xHH.
std::string Escaped(const std::string& utf8);
std::string Quoted(const std::string& utf8);

// A JSON string of the text (with its quotes). A JSON parser gives back the text as it was; the
// characters Quoted escapes are written as \uHHHH, so that the JSON is as safe to print as the
// report. An unpaired surrogate, which JSON cannot carry as text, and a byte that is no part of
// valid UTF-8 become U+FFFD.
std::string JsonString(const std::u16string& text);
std::string JsonString(const std::string& utf8);
