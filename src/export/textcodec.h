// Character handling shared by the writers: UTF-8 decoding, the Windows-1252
// code page of the spreadsheet and RTF formats, character counts for layout,
// and the escaping rules of the mark-up formats.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvel {

// Decodes the code point at `pos` and advances `pos`. A byte that does not
// start a valid UTF-8 sequence is taken as a Windows-1252 character.
char32_t NextCodePoint(std::string_view s, std::size_t& pos);

// Appends the UTF-8 encoding of `cp`.
void AppendUtf8(std::string& out, char32_t cp);

// The Windows-1252 byte of `cp`, or -1 when the code page has none.
int Windows1252Byte(char32_t cp);

// Converts UTF-8 text to Windows-1252; every character the code page lacks
// becomes "?" and is counted in `replaced`.
std::string Utf8ToWindows1252(std::string_view s, long long& replaced);

// Number of characters (code points) of a UTF-8 text.
std::size_t CharCount(std::string_view s);

// The first `n` characters of a UTF-8 text (never cuts a character in two).
std::string_view CharPrefix(std::string_view s, std::size_t n);

// HTML text: & < > become entities; with `attribute`, " too.
void AppendHtmlEscaped(std::string& out, std::string_view s, bool attribute);

// RTF text: \ { } escaped, Windows-1252 characters above 127 as \'hh, every
// other non-ASCII character as \uN\'3f, tabs as \tab and line breaks as \line.
void AppendRtfEscaped(std::string& out, std::string_view s);

// Upper- and lower-case forms of an ASCII text.
std::string AsciiUpper(std::string_view s);
std::string AsciiLower(std::string_view s);
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace quorvel
