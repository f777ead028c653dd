// A profile's filter and attribute names checked against its server's
// schema, in the words the profile dialog and quorvel-report --check use:
//   "mial: not in the schema of Test directory; did you mean mail?"
//   "mial: not in the schema of Test directory."        (nothing close)
//   "Filter: Position 11: unescaped \"(\" in a value; write \28 for it"
// Names in the list are the pieces between ";" with their blanks removed;
// empty pieces and the special selectors "*", "+", "1.1" and "@class" are
// not names. A filter's names are its items' attribute names, options cut
// off. Each unknown name is named once, the list's first, in order met.
// Pure functions: nothing is read or stored.
#pragma once

#include <string>
#include <vector>

#include "ldap/schema.h"

namespace quorvel {

// The names of the list that the schema does not know, each once.
std::vector<std::string> UnknownNames(const TSchema& schema, const std::vector<std::string>& names);
// One finding for an unknown name.
std::string UnknownNameText(const TSchema& schema, const std::string& name,
                            const std::string& serverName);
// The line for a filter that does not pass the filter check (empty when it passes).
std::string FilterFinding(const std::string& filter);
// Every finding of a profile: the filter's problem, then the unknown names of
// the attribute list, then those of the filter.
std::vector<std::string> ProfileFindings(const TSchema& schema, const std::string& serverName,
                                         const std::string& filter, const std::string& att);

}  // namespace quorvel
