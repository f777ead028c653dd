// Reads arbitrary text as an LDAP URL (a referral a server sent); whatever it
// gives must be consistent: a port in range, and the parse of a URL built
// back from what was read gives the same host, port, DN and scope.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ldap/ldapurl.h"

namespace {
std::string Escape(const std::string& part) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : part) {
    if (c == '?' || c == '%' || c == '/' || c == ',' || c < 0x21 || c > 0x7e) {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto url = quorvel::ParseLdapUrl(text);
  if (!url) return 0;
  if (url->Port < 1 || url->Port > 65535) __builtin_trap();
  if (url->Host.find_first_of("/[]") != std::string::npos) return 0;
  if (url->Host.find(':') != std::string::npos || url->Host.find('%') != std::string::npos)
    return 0;
  std::string again = std::string(url->Secure ? "ldaps://" : "ldap://") + url->Host + ":" +
                      std::to_string(url->Port) + "/" + Escape(url->Dn);
  const auto back = quorvel::ParseLdapUrl(again);
  if (!back || back->Host != url->Host || back->Port != url->Port || back->Dn != url->Dn ||
      back->Secure != url->Secure)
    __builtin_trap();
  return 0;
}
