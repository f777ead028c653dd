// The text/binary rule and the readable forms: see valueforms.h.
#include "ldap/valueforms.h"

#include <cstdint>
#include <cstring>
#include <utility>

namespace quorvel {
namespace {

inline bool Continuation(unsigned char c) {
  return (c & 0xC0) == 0x80;
}

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view lowered) {
  if (a.size() != lowered.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != lowered[i]) return false;
  return true;
}

struct TNamedForm {
  std::string_view name;  // lower case
  TValueForm form;
};

constexpr TNamedForm kForms[] = {
    {"objectsid", vfSid},
    {"sidhistory", vfSid},
    {"tokengroups", vfSid},
    {"tokengroupsglobalanduniversal", vfSid},
    {"tokengroupsnogcacceptable", vfSid},
    {"securityidentifier", vfSid},
    {"ms-ds-creatorsid", vfSid},
    {"objectguid", vfGuid},
    {"schemaidguid", vfGuid},
    {"attributesecurityguid", vfGuid},
    {"invocationid", vfGuid},
    {"msexchmailboxguid", vfGuid},
    {"msexcharchiveguid", vfGuid},
    {"ms-ds-consistencyguid", vfGuid},
    {"netbootguid", vfGuid},
    {"accountexpires", vfFileTime},
    {"badpasswordtime", vfFileTime},
    {"lastlogon", vfFileTime},
    {"lastlogoff", vfFileTime},
    {"lastlogontimestamp", vfFileTime},
    {"lockouttime", vfFileTime},
    {"pwdlastset", vfFileTime},
    {"msds-userpasswordexpirytimecomputed", vfFileTime},
    {"msds-lastsuccessfulinteractivelogontime", vfFileTime},
    {"msds-lastfailedinteractivelogontime", vfFileTime},
    {"whencreated", vfGeneralizedTime},
    {"whenchanged", vfGeneralizedTime},
    {"createtimestamp", vfGeneralizedTime},
    {"modifytimestamp", vfGeneralizedTime},
    {"pwdchangedtime", vfGeneralizedTime},
    {"dscorepropagationdata", vfGeneralizedTime},
};

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, and
// back (the usual era arithmetic: 400 years are exactly 146097 days).
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, TCivilTime& t) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  t.year = static_cast<int>(yoe + era * 400 + (t.month <= 2));
}

int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : kDays[m - 1];
}

// The moment `seconds` after 1970-01-01 00:00:00 UTC, written as the readable
// times are; false when its year is outside 0 to 9999.
bool WriteMoment(int64_t seconds, std::string& out) {
  int64_t days = seconds / 86400, rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  TCivilTime t;
  CivilFromDays(days, t);
  if (t.year < 0 || t.year > 9999) return false;
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest / 60 % 60);
  t.second = static_cast<int>(rest % 60);
  char buf[19];
  auto two = [&buf](int at, int v) {
    buf[at] = static_cast<char>('0' + v / 10);
    buf[at + 1] = static_cast<char>('0' + v % 10);
  };
  two(0, t.year / 100);
  two(2, t.year % 100);
  buf[4] = '-';
  two(5, t.month);
  buf[7] = '-';
  two(8, t.day);
  buf[10] = ' ';
  two(11, t.hour);
  buf[13] = ':';
  two(14, t.minute);
  buf[16] = ':';
  two(17, t.second);
  out.assign(buf, sizeof buf);
  return true;
}

// The decimal number of digits text[at, at + n); -1 when one is not a digit.
int Digits(std::string_view text, std::size_t at, std::size_t n) {
  int v = 0;
  for (std::size_t i = at; i < at + n; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    v = v * 10 + (text[i] - '0');
  }
  return v;
}

void AppendDecimal(std::string& out, uint64_t v) {
  char buf[20];
  int n = 0;
  do {
    buf[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n > 0) out.push_back(buf[--n]);
}

}  // namespace

namespace {
// True when all eight octets at p are printable ASCII (0x20 to 0x7E), the
// common case that needs no look at each octet. With no high bit set,
// subtracting 0x20 from every octet sets the high bit of each one below 0x20
// (a borrow may flag its neighbour too, which only sends the eight octets the
// slow way), and adding 1 sets it of each 0x7F.
bool PrintableAscii8(const unsigned char* p) {
  constexpr uint64_t kHigh = 0x8080808080808080ull;
  uint64_t x;
  std::memcpy(&x, p, sizeof x);
  return ((x | (x - 0x2020202020202020ull) | (x + 0x0101010101010101ull)) & kHigh) == 0;
}
}  // namespace

bool IsTextValue(std::string_view value) {
  const auto* p = reinterpret_cast<const unsigned char*>(value.data());
  const std::size_t n = value.size();
  std::size_t i = 0;
  while (i < n) {
    if (n - i >= 8) {
      if (PrintableAscii8(p + i)) {
        i += 8;
        continue;
      }
    } else if (n >= 8 && PrintableAscii8(p + n - 8)) {
      // The last octets (those before i were taken already, whole
      // characters) are all printable ASCII.
      return true;
    }
    const unsigned char c = p[i];
    if (c < 0x80) {
      if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F) return false;
      ++i;
      continue;
    }
    // The byte ranges of the shortest forms (the table of RFC 3629).
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xBF;  // the second byte's range
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      if (c == 0xE0) lo = 0xA0;  // no overlong form
      if (c == 0xED) hi = 0x9F;  // no surrogate
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      if (c == 0xF0) lo = 0x90;  // no overlong form
      if (c == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
      return false;
    }
    if (n - i < len || p[i + 1] < lo || p[i + 1] > hi) return false;
    for (std::size_t k = 2; k < len; ++k)
      if (!Continuation(p[i + k])) return false;
    i += len;
  }
  return true;
}

TValueForm ReadableForm(std::string_view name) {
  std::size_t b = 0, e = name.size();
  while (b < e && static_cast<unsigned char>(name[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(name[e - 1]) <= 32) --e;
  name = name.substr(b, e - b);
  name = name.substr(0, name.find(';'));
  for (const TNamedForm& f : kForms)
    if (SameName(name, f.name)) return f.form;
  return vfPlain;
}

bool SidText(std::string_view octets, std::string& out) {
  const auto* p = reinterpret_cast<const unsigned char*>(octets.data());
  if (octets.size() < 8 || p[0] != 1) return false;
  const std::size_t count = p[1];
  if (count > 15 || octets.size() != 8 + 4 * count) return false;
  uint64_t authority = 0;
  for (int i = 2; i < 8; ++i) authority = authority << 8 | p[i];
  std::string s = "S-1-";
  AppendDecimal(s, authority);
  for (std::size_t k = 0; k < count; ++k) {
    const unsigned char* q = p + 8 + 4 * k;
    const uint32_t sub = static_cast<uint32_t>(q[0]) | static_cast<uint32_t>(q[1]) << 8 |
                         static_cast<uint32_t>(q[2]) << 16 | static_cast<uint32_t>(q[3]) << 24;
    s.push_back('-');
    AppendDecimal(s, sub);
  }
  out = std::move(s);
  return true;
}

bool GuidText(std::string_view octets, std::string& out) {
  if (octets.size() != 16) return false;
  // Byte order of the text: the first field (4 bytes) and the next two (2
  // each) reversed, the last eight as stored.
  static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  static constexpr char kHex[] = "0123456789abcdef";
  std::string s;
  s.reserve(36);
  for (int k = 0; k < 16; ++k) {
    if (k == 4 || k == 6 || k == 8 || k == 10) s.push_back('-');
    const auto c = static_cast<unsigned char>(octets[kOrder[k]]);
    s.push_back(kHex[c >> 4]);
    s.push_back(kHex[c & 15]);
  }
  out = std::move(s);
  return true;
}

bool FileTimeText(std::string_view text, std::string& out) {
  if (text.empty() || text.size() > 19) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');  // 19 digits fit in 64 bits unsigned
  }
  if (v == 0 || v >= 9223372036854775807ULL) return false;
  // Seconds from 1601-01-01 to 1970-01-01.
  constexpr int64_t kEpochGap = 11644473600;
  return WriteMoment(static_cast<int64_t>(v / 10000000) - kEpochGap, out);
}

bool GeneralizedTimeText(std::string_view text, std::string& out) {
  if (text.size() < 15) return false;
  const int year = Digits(text, 0, 4), month = Digits(text, 4, 2), day = Digits(text, 6, 2);
  const int hour = Digits(text, 8, 2), minute = Digits(text, 10, 2), second = Digits(text, 12, 2);
  if (year < 0 || month < 1 || month > 12 || day < 1 || hour < 0 || hour > 23 || minute < 0 ||
      minute > 59 || second < 0 || second > 59 || day > DaysInMonth(year, month))
    return false;
  std::size_t i = 14;
  if (text[i] == '.' || text[i] == ',') {
    const std::size_t start = ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    if (i == start) return false;
  }
  if (i >= text.size()) return false;
  int offset = 0;  // seconds east of UTC
  if (text[i] == 'Z') {
    ++i;
  } else if (text[i] == '+' || text[i] == '-') {
    const int sign = text[i] == '+' ? 1 : -1;
    ++i;
    const std::size_t left = text.size() - i;
    if (left != 2 && left != 4) return false;
    const int oh = Digits(text, i, 2), om = left == 4 ? Digits(text, i + 2, 2) : 0;
    if (oh < 0 || oh > 23 || om < 0 || om > 59) return false;
    offset = sign * (oh * 3600 + om * 60);
    i += left;
  } else {
    return false;
  }
  if (i != text.size()) return false;
  const int64_t local =
      DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return WriteMoment(local - offset, out);
}

bool ReadableText(TValueForm form, std::string_view raw, std::string& out) {
  switch (form) {
    case vfSid:
      return SidText(raw, out);
    case vfGuid:
      return GuidText(raw, out);
    case vfFileTime:
      return FileTimeText(raw, out);
    case vfGeneralizedTime:
      return GeneralizedTimeText(raw, out);
    case vfPlain:
      break;
  }
  return false;
}

bool ParseReadableTime(std::string_view text, TCivilTime& t) {
  if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' ||
      text[16] != ':')
    return false;
  TCivilTime v;
  v.year = Digits(text, 0, 4);
  v.month = Digits(text, 5, 2);
  v.day = Digits(text, 8, 2);
  v.hour = Digits(text, 11, 2);
  v.minute = Digits(text, 14, 2);
  v.second = Digits(text, 17, 2);
  if (v.year < 0 || v.month < 1 || v.month > 12 || v.day < 1 ||
      v.day > DaysInMonth(v.year, v.month) || v.hour < 0 || v.hour > 23 || v.minute < 0 ||
      v.minute > 59 || v.second < 0 || v.second > 59)
    return false;
  t = v;
  return true;
}

}  // namespace quorvel
