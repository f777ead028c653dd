// Building the rows of the working tables from a search result, shared by the
// windowed program and the headless runner.
//
// export row: the entry's DN, then one cell per requested name (the pieces of
// a profile's att between ";"). A requested name matches the entry's attribute
// whose description equals it when both are trimmed (characters of code 32 or
// less) and compared ignoring ASCII letter case; when several match, the last
// one wins. A cell is empty when nothing matches or the attribute has no
// values; one value is written bare, two or more each as [value] one after the
// other. Values of an attribute flagged IsBinary are written as the Base64 text
// of their raw octets; other values are trimmed.
//
// property rows: one per value of every attribute, in the order received.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ldap/base64.h"
#include "ldap/results.h"

namespace quorvel {

// Removes characters of code 0 to 32 from both ends.
std::string TrimControl(std::string_view text);

// The pieces of att between ";" unchanged (blanks kept): "cn; mail" gives "cn"
// and " mail"; an empty att gives one empty piece.
std::vector<std::string> SplitAttributeList(std::string_view att);

// The attribute of entry that the requested name selects, or none.
TLDAPAttribute FindRequestedAttribute(const TLDAPResult& entry, std::string_view requested);

// The cell text of one attribute (empty when it has no values).
std::string AttributeCellText(const TLDAPAttribute& attribute);

// The cell text of one requested name for an entry.
std::string RequestedCellText(const TLDAPResult& entry, std::string_view requested);

// The whole export row: DN first, then one cell per requested name.
std::vector<std::string> BuildExportRow(const TLDAPResult& entry,
                                        const std::vector<std::string>& requested);
// The same with the requested names given as a profile's att text.
std::vector<std::string> BuildExportRow(const TLDAPResult& entry, std::string_view att);

// One row of the property table.
struct TPropertyRow {
  std::string Icon;   // always "0"
  std::string Name;   // the attribute description as received
  std::string Value;  // trimmed; for IsBinary the Base64 text of all the octets
  std::string Type;   // "BINARY" for IsBinary, otherwise "TEXT"
  std::string Size;   // octets of the value before trimming, in decimal
};

// The property row of one value.
TPropertyRow BuildPropertyRow(const TLDAPAttribute& attribute, int value_index);
// The property rows of an entry: every value of every attribute, in order.
std::vector<TPropertyRow> BuildPropertyRows(const TLDAPResult& entry);

}  // namespace quorvel
