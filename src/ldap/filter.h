// Translation of search filter text in the parenthesised form, such as
// (&(objectclass=person)(|(cn=J*)(sn=J*))), into the BER encoding of an LDAP
// Filter. It never fails loudly: text it cannot use gives empty octets, which
// the search sends as a NULL item in the filter's place.
#pragma once

#include <string>
#include <string_view>

// Filter text to BER octets (empty when nothing could be encoded).
std::string EncodeFilter(std::string_view text);

namespace quorvel::filtertext {
// The string steps of the translation, on 8-bit text.
// Removes characters with codes 0 to 32 from both ends.
std::string Trim(std::string_view text);
// The text before / after the first occurrence of d; the whole text when d does
// not occur (an empty d counts as not occurring).
std::string SplitBefore(std::string_view text, std::string_view d);
std::string SplitAfter(std::string_view text, std::string_view d);
// Returns SplitBefore and leaves SplitAfter in text (empty when d does not
// occur); both lose leading and trailing spaces.
std::string TakeToken(std::string& text, std::string_view d);
// The content of the first parenthesised group, nested groups included.
std::string InnerGroup(std::string_view text);
// Resolves \XX hexadecimal escapes and drops escaped line breaks.
std::string DecodeEscapes(std::string_view text);
}  // namespace quorvel::filtertext
