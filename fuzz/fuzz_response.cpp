// Decodes arbitrary bytes as a response message and, for entries and
// references, parses the remainder into the result model and reads it back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ldap/response.h"
#include "ldap/results.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int32_t id = data[0];
  const std::string message(reinterpret_cast<const char*>(data + 1), size - 1);
  std::vector<std::string> referrals;
  const quorvel::TDecodedResponse r = quorvel::DecodeMessage(message, id, referrals);
  // Whatever the id, the remainder parsers must cope with any bytes too.
  const std::string_view rest = r.ResponseTag >= 0 ? r.Rest : std::string_view(message);
  TLDAPResultList list;
  TLDAPResult* entry = list.Add();
  quorvel::ParseSearchEntry(rest, *entry);
  quorvel::ParseSearchReference(rest, referrals);
  std::size_t total = entry->ObjectName().size();
  const TLDAPAttributeList attrs = entry->Attributes();
  for (int i = 0; i < attrs.Count(); ++i) {
    const TLDAPAttribute a = attrs.Items(i);
    total += a.AttributeName().size();
    for (int j = 0; j < a.Count(); ++j) total += a.Value(j).size();
    (void)a.IsBinary();
  }
  // The model holds no more octets than the message carried (plus the decimal
  // texts of integer items, which are at most 11 characters for 3 octets).
  if (total > 4 * message.size() + 16) __builtin_trap();
  return 0;
}
