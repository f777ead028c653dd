#include "ldap/ldapurl.h"

#include <cctype>

namespace quorvel {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// %-decodes a part; false on a "%" not followed by two hexadecimal digits.
bool Decode(std::string_view part, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < part.size(); ++i) {
    if (part[i] != '%') {
      out.push_back(part[i]);
      continue;
    }
    if (i + 2 >= part.size()) return false;
    const int hi = HexDigit(part[i + 1]), lo = HexDigit(part[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<char>(hi * 16 + lo));
    i += 2;
  }
  return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && StartsWithNoCase(a, b);
}

// Splits at the first `sep`: the part before goes to `head`, `rest` keeps what follows.
std::string_view Cut(std::string_view& rest, char sep, bool& more) {
  const std::size_t at = rest.find(sep);
  more = at != std::string_view::npos;
  const std::string_view head = rest.substr(0, at);
  rest = more ? rest.substr(at + 1) : std::string_view();
  return head;
}

bool ParseHostPort(std::string_view hostport, TLdapUrl& url) {
  std::string_view port;
  if (!hostport.empty() && hostport[0] == '[') {
    const std::size_t close = hostport.find(']');
    if (close == std::string_view::npos) return false;
    url.Host = std::string(hostport.substr(1, close - 1));
    const std::string_view after = hostport.substr(close + 1);
    if (!after.empty()) {
      if (after[0] != ':') return false;
      port = after.substr(1);
    }
  } else {
    const std::size_t colon = hostport.rfind(':');
    std::string host;
    if (!Decode(hostport.substr(0, colon), host)) return false;
    url.Host = host;
    if (colon != std::string_view::npos) port = hostport.substr(colon + 1);
  }
  if (port.empty()) return true;
  if (port.size() > 5) return false;
  int value = 0;
  for (char c : port) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return false;
  url.Port = value;
  return true;
}

bool ParseScope(std::string_view scope, TLdapUrl& url) {
  if (scope.empty()) return true;
  if (EqualsNoCase(scope, "base"))
    url.Scope = SS_BaseObject;
  else if (EqualsNoCase(scope, "one"))
    url.Scope = SS_SingleLevel;
  else if (EqualsNoCase(scope, "sub"))
    url.Scope = SS_WholeSubtree;
  else
    return false;
  return true;
}

bool ParseAttributes(std::string_view list, TLdapUrl& url) {
  while (!list.empty()) {
    bool more = false;
    std::string name;
    if (!Decode(Cut(list, ',', more), name)) return false;
    if (!name.empty()) url.Attributes.push_back(name);
  }
  return true;
}

// No extension is understood, so a critical one makes the URL unusable.
bool AcceptExtensions(std::string_view list) {
  while (!list.empty()) {
    bool more = false;
    const std::string_view ext = Cut(list, ',', more);
    if (!ext.empty() && ext[0] == '!') return false;
  }
  return true;
}

}  // namespace

std::optional<TLdapUrl> ParseLdapUrl(std::string_view text) {
  if (text.size() > kMaxLdapUrl) return std::nullopt;
  TLdapUrl url;
  if (StartsWithNoCase(text, "ldaps://")) {
    url.Secure = true;
    url.Port = 636;
    text.remove_prefix(8);
  } else if (StartsWithNoCase(text, "ldap://")) {
    text.remove_prefix(7);
  } else {
    return std::nullopt;
  }
  const std::size_t slash = text.find('/');
  if (!ParseHostPort(text.substr(0, slash), url)) return std::nullopt;
  if (slash == std::string_view::npos) return url;
  std::string_view rest = text.substr(slash + 1);
  bool more = false;
  if (!Decode(Cut(rest, '?', more), url.Dn)) return std::nullopt;
  if (!more) return url;
  if (!ParseAttributes(Cut(rest, '?', more), url)) return std::nullopt;
  if (!more) return url;
  if (!ParseScope(Cut(rest, '?', more), url)) return std::nullopt;
  if (!more) return url;
  if (!Decode(Cut(rest, '?', more), url.Filter)) return std::nullopt;
  if (!more) return url;
  if (!AcceptExtensions(rest)) return std::nullopt;
  return url;
}

std::string HostAndPort(const std::string& host, int port) {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace quorvel
