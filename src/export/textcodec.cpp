#include "export/textcodec.h"

#include <array>
#include <cstdio>

namespace quorvel {
namespace {

// Code points of the bytes 0x80..0x9F in Windows-1252 (0 where the byte is unused).
constexpr std::array<char16_t, 32> kHigh1252 = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char32_t FromWindows1252(unsigned char b) {
  if (b >= 0x80 && b < 0xA0 && kHigh1252[b - 0x80] != 0) return kHigh1252[b - 0x80];
  return b;
}

}  // namespace

char32_t NextCodePoint(std::string_view s, std::size_t& pos) {
  const auto b0 = static_cast<unsigned char>(s[pos]);
  if (b0 < 0x80) {
    ++pos;
    return b0;
  }
  int extra = 0;
  char32_t cp = 0;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1;
    cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2;
    cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3;
    cp = b0 & 0x07;
  } else {
    ++pos;
    return FromWindows1252(b0);
  }
  if (pos + extra >= s.size()) {
    ++pos;
    return FromWindows1252(b0);
  }
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<unsigned char>(s[pos + k]);
    if ((b & 0xC0) != 0x80) {
      ++pos;
      return FromWindows1252(b0);
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++pos;
    return FromWindows1252(b0);
  }
  pos += extra + 1;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

int Windows1252Byte(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (std::size_t i = 0; i < kHigh1252.size(); ++i)
    if (kHigh1252[i] != 0 && kHigh1252[i] == cp) return static_cast<int>(0x80 + i);
  return -1;
}

std::string Utf8ToWindows1252(std::string_view s, long long& replaced) {
  std::string out;
  out.reserve(s.size());
  std::size_t pos = 0;
  while (pos < s.size()) {
    const char32_t cp = NextCodePoint(s, pos);
    const int b = Windows1252Byte(cp);
    if (b < 0) {
      out += '?';
      ++replaced;
    } else {
      out += static_cast<char>(b);
    }
  }
  return out;
}

std::size_t CharCount(std::string_view s) {
  std::size_t n = 0;
  for (char c : s)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  // Stray continuation bytes count as characters of their own in NextCodePoint;
  // the layout only needs an estimate that agrees for valid text.
  return n;
}

std::string_view CharPrefix(std::string_view s, std::size_t n) {
  std::size_t pos = 0;
  for (std::size_t k = 0; k < n && pos < s.size(); ++k) NextCodePoint(s, pos);
  return s.substr(0, pos);
}

void AppendHtmlEscaped(std::string& out, std::string_view s, bool attribute) {
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        if (attribute) {
          out += "&quot;";
          break;
        }
        [[fallthrough]];
      default:
        out += c;
    }
  }
}

void AppendRtfEscaped(std::string& out, std::string_view s) {
  std::size_t pos = 0;
  char buf[24];
  while (pos < s.size()) {
    const char c = s[pos];
    if (c == '\r' || c == '\n') {
      // CR LF, a lone CR or a lone LF is one line break.
      if (c == '\r' && pos + 1 < s.size() && s[pos + 1] == '\n') ++pos;
      ++pos;
      out += "\\line ";
      continue;
    }
    if (c == '\t') {
      ++pos;
      out += "\\tab ";
      continue;
    }
    const char32_t cp = NextCodePoint(s, pos);
    if (cp == '\\' || cp == '{' || cp == '}') {
      out += '\\';
      out += static_cast<char>(cp);
    } else if (cp >= 0x20 && cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (int b = Windows1252Byte(cp); b >= 0) {
      std::snprintf(buf, sizeof buf, "\\'%02x", b);
      out += buf;
    } else {
      // Outside the code page: the character's UTF-16 unit(s) as signed
      // numbers, each followed by a one-character fallback "?".
      auto unit = [&](unsigned u) {
        std::snprintf(buf, sizeof buf, "\\u%d\\'3f", static_cast<int>(static_cast<short>(u)));
        out += buf;
      };
      if (cp >= 0x10000) {
        const char32_t v = cp - 0x10000;
        unit(0xD800 + (v >> 10));
        unit(0xDC00 + (v & 0x3FF));
      } else {
        unit(cp);
      }
    }
  }
}

std::string AsciiUpper(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

std::string AsciiLower(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && AsciiLower(a) == AsciiLower(b);
}

}  // namespace quorvel
