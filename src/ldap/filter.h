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

#include <optional>
#include <vector>

namespace quorvel {

// What is wrong with a filter text: where (the 1-based character position,
// counting UTF-8 characters) and why, in words for the user.
struct TFilterProblem {
  std::size_t position = 1;
  std::string reason;
};

// Checks filter text against the filter grammar before it is translated: the
// translation above never fails and would send a mistyped filter as something
// else (an unescaped parenthesis inside a value, as in (cn=Smith (Admin)),
// travels as part of the value). Accepted beyond the strict grammar, as the
// translation handles them alike: blanks around the whole text, between the
// parts of "&", "|" and "!", and around an attribute name; a single item
// without its parentheses (cn=x). A text the checker accepts always
// translates to a filter. The attribute names of the items (options cut off,
// each once, in order met) go to `attributes` when given. Nesting deeper than
// the translation allows is a problem too. Never fails otherwise.
//
//   if (auto p = quorvel::CheckFilter("(cn=Smith (Admin))")) ... p->position (11), p->reason
std::optional<TFilterProblem> CheckFilter(std::string_view text,
                                          std::vector<std::string>* attributes = nullptr);

// "Position 11: unescaped \"(\" in a value; write \\28 for it", the one wording of
// a problem for the dialog and the report.
std::string FilterProblemText(const TFilterProblem& problem);

}  // namespace quorvel
