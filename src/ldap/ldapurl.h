// LDAP URLs as servers send them in referrals (RFC 4516):
//   ldap[s]://host[:port][/dn[?attributes[?scope[?filter[?extensions]]]]]
//
//   std::optional<quorvel::TLdapUrl> url = quorvel::ParseLdapUrl(text);
//   if (url) ... url->Host, url->Port, url->Dn, url->Scope ...
//
// ParseLdapUrl never throws and never reads past its input. It gives nothing
// for a text that is not an LDAP URL: another scheme, a port that is not a
// number from 1 to 65535, a bad %-escape, an unknown scope, an unclosed
// "[" around an IPv6 address, or a critical extension (one marked "!": the
// URL may not be used without understanding it, and none is understood).
// The host may be empty ("ldap:///dc=example,dc=org"): the referring server
// itself is meant. The port defaults to 389 (ldap) or 636 (ldaps); the DN,
// attributes and filter are %-decoded; a part left out (or empty) is absent.
// The text is at most kMaxLdapUrl octets.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ldap/session.h"

namespace quorvel {

inline constexpr std::size_t kMaxLdapUrl = 64 * 1024;

struct TLdapUrl {
  bool Secure = false;  // ldaps://: SSL/TLS from the first byte
  std::string Host;     // without the brackets of an IPv6 address; may be empty
  int Port = 389;
  std::string Dn;                         // may be empty: the original base
  std::vector<std::string> Attributes;    // empty: not given
  std::optional<TLDAPSearchScope> Scope;  // absent: not given
  std::string Filter;                     // empty: not given
};

std::optional<TLdapUrl> ParseLdapUrl(std::string_view text);

// "host:port", with brackets around an IPv6 address.
std::string HostAndPort(const std::string& host, int port);

}  // namespace quorvel
