#include "ldap/filter.h"

#include "ldap/ber.h"

namespace quorvel::filtertext {

namespace {
bool IsBlankOrControl(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

std::string TrimSpaces(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && text[b] == ' ') ++b;
  while (e > b && text[e - 1] == ' ') --e;
  return std::string(text.substr(b, e - b));
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

std::string Trim(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && IsBlankOrControl(text[b])) ++b;
  while (e > b && IsBlankOrControl(text[e - 1])) --e;
  return std::string(text.substr(b, e - b));
}

std::string SplitBefore(std::string_view text, std::string_view d) {
  const std::size_t pos = d.empty() ? std::string_view::npos : text.find(d);
  if (pos == std::string_view::npos) return std::string(text);
  return std::string(text.substr(0, pos));
}

std::string SplitAfter(std::string_view text, std::string_view d) {
  const std::size_t pos = d.empty() ? std::string_view::npos : text.find(d);
  if (pos == std::string_view::npos) return std::string(text);
  return std::string(text.substr(pos + d.size()));
}

std::string TakeToken(std::string& text, std::string_view d) {
  const std::size_t pos = d.empty() ? std::string::npos : text.find(d);
  std::string head;
  if (pos == std::string::npos) {
    head = text;
    text.clear();
  } else {
    head = text.substr(0, pos);
    text = TrimSpaces(std::string_view(text).substr(pos + d.size()));
  }
  return TrimSpaces(head);
}

std::string InnerGroup(std::string_view text) {
  if (text == "()") return std::string();
  if (text.size() < 2) return std::string(text);
  const std::string s = SplitAfter(text, "(");
  if (s == text || s.find(')') == std::string::npos) return std::string(text);
  std::string out;
  int depth = 1;
  for (char c : s) {
    if (c == ')') {
      if (--depth == 0) break;
    } else if (c == '(') {
      ++depth;
    }
    out.push_back(c);
  }
  return out;
}

std::string DecodeEscapes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c != '\\') {
      out.push_back(c);
      ++i;
      continue;
    }
    if (text.size() - i < 3) break;  // fewer than two characters after the escape
    const char a = text[i + 1], b = text[i + 2];
    if (a == '\r' || a == '\n') {
      // An escaped line break (CR, LF, CR LF or LF CR) disappears with its escape.
      i += 2;
      if ((a == '\r' && b == '\n') || (a == '\n' && b == '\r')) ++i;
      continue;
    }
    const int hi = HexValue(a), lo = HexValue(b);
    if (hi >= 0 && lo >= 0) {
      out.push_back(static_cast<char>(hi * 16 + lo));
      i += 3;
    } else {
      out.push_back('\\');
      ++i;
    }
  }
  return out;
}

}  // namespace quorvel::filtertext

namespace {
using namespace quorvel::filtertext;

// Nesting deeper than this is not a filter anyone writes; the whole filter gives
// empty octets instead of exhausting the stack.
constexpr int kMaxDepth = 200;

std::string EncodeItem(const std::string& s) {
  std::string a = Trim(SplitBefore(s, "="));
  std::string v = Trim(SplitAfter(s, "="));
  if (a.empty()) return std::string();
  const char last = a.back();
  if (last == ':') {
    a.pop_back();
    bool dn = false;
    for (std::size_t pos; (pos = a.find(":dn")) != std::string::npos;) {
      dn = true;
      a.erase(pos, 3);
    }
    const std::string type = Trim(SplitBefore(a, ":"));
    std::string rule = Trim(SplitAfter(a, ":"));
    if (rule == a) rule.clear();
    std::string content;
    if (!rule.empty()) content += EncodeObject(rule, 0x81);
    if (!type.empty()) content += EncodeObject(type, 0x82);
    content += EncodeObject(DecodeEscapes(v), 0x83);
    content += EncodeObject(std::string(1, dn ? '\xFF' : '\x00'), 0x84);
    return EncodeObject(content, 0xA9);
  }
  auto pair = [&](std::string_view attr, int tag) {
    return EncodeObject(EncodeObject(attr, 0x04) + EncodeObject(DecodeEscapes(v), 0x04), tag);
  };
  if (last == '<' || last == '>' || last == '~') {
    a.pop_back();
    return pair(a, last == '<' ? 0xA6 : last == '>' ? 0xA5 : 0xA8);
  }
  if (v == "*") return EncodeObject(a, 0x87);
  if (v.find('*') != std::string::npos) {
    std::string parts;
    std::string t = TakeToken(v, "*");
    if (!t.empty()) parts += EncodeObject(DecodeEscapes(t), 0x80);
    while (!v.empty() && v.find('*') != std::string::npos) {
      t = TakeToken(v, "*");
      parts += EncodeObject(DecodeEscapes(t), 0x81);
    }
    if (!v.empty()) parts += EncodeObject(DecodeEscapes(v), 0x82);
    return EncodeObject(EncodeObject(a, 0x04) + EncodeObject(parts, 0x30), 0xA4);
  }
  return pair(a, 0xA3);
}

std::string Encode(std::string_view text, int depth, bool& too_deep) {
  if (depth > kMaxDepth) too_deep = true;
  if (text.empty() || too_deep) return std::string();
  std::string s;
  if (text.front() == '(') {
    const std::size_t close = text.rfind(')');
    if (close != std::string_view::npos && close > 0) s = std::string(text.substr(1, close - 1));
  } else {
    s = std::string(text);
  }
  if (s.empty()) return std::string();

  const char first = s.front();
  if (first == '!') {
    const std::string g = InnerGroup(s);
    // A group that does not shrink would be translated again forever.
    if (g == s) return std::string();
    return EncodeObject(Encode(g, depth + 1, too_deep), 0xA2);
  }
  if (first == '&' || first == '|') {
    std::string items;
    bool first_component = true;
    do {
      const std::string g = InnerGroup(s);
      // An empty group never moves on (as in (&()) or (&(cn=a)())), and a first
      // group that is the whole composite (as in (&)) would be translated again
      // forever: the whole composite is unusable. Stray text after a component
      // is translated as an item of its own.
      if (g.empty() || (first_component && g == s)) return std::string();
      first_component = false;
      s = Trim(SplitAfter(s, g));
      if (!s.empty() && s.front() == ')') s.erase(0, 1);
      items += Encode(g, depth + 1, too_deep);
    } while (!s.empty());
    return EncodeObject(items, first == '&' ? 0xA0 : 0xA1);
  }
  return EncodeItem(s);
}
}  // namespace

std::string EncodeFilter(std::string_view text) {
  bool too_deep = false;
  std::string octets = Encode(text, 0, too_deep);
  if (too_deep) octets.clear();
  return octets;
}
