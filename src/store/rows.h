// Building the rows of the working tables from a search result, shared by the
// windowed program and the headless runner.
//
// export row: the entry's DN, then one cell per requested name (the pieces of
// a profile's att between ";"). A requested name matches the entry's attribute
// whose description equals it when both are trimmed (characters of code 32 or
// less) and compared ignoring ASCII letter case; when several match, the last
// one wins. A cell is empty when nothing matches or the attribute has no
// values; one value is written bare, two or more each as [value] one after the
// other.
//
// One value's text (ValueCellText), the one rule for the grid, the reports
// and Properties: with readable values on, a value its attribute's readable
// form fits is written in that form (ldap/valueforms.h); otherwise a binary
// value (any value of an attribute flagged IsBinary, or a value IsTextValue
// finds binary) is written as the Base64 text of all its octets, and a text
// value with the characters of code 32 or less at its ends removed.
//
// property rows: one per value of every attribute, in the order received.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ldap/base64.h"
#include "ldap/results.h"
#include "ldap/valueforms.h"
#include "sqlstore/entryvalues.h"

namespace quorvel {

// Removes characters of code 0 to 32 from both ends.
std::string TrimControl(std::string_view text);

// The pieces of att between ";" unchanged (blanks kept): "cn; mail" gives "cn"
// and " mail"; an empty att gives one empty piece.
std::vector<std::string> SplitAttributeList(std::string_view att);

// The attribute of entry that the requested name selects, or none.
TLDAPAttribute FindRequestedAttribute(const TLDAPResult& entry, std::string_view requested);

// The text of one value (see above); `binary` tells whether it is binary.
std::string ValueCellText(std::string_view raw, bool binaryName, TValueForm form,
                          bool* binary = nullptr);

// The cell text of one attribute (empty when it has no values), its values in
// `form` (vfPlain: readable values off).
std::string AttributeCellText(const TLDAPAttribute& attribute, TValueForm form = vfPlain);

// The cell text of one requested name for an entry.
std::string RequestedCellText(const TLDAPResult& entry, std::string_view requested,
                              bool readable = false);

// One column of the export table: the requested name and the form of its
// values, decided once for the whole run.
struct TRequestedColumn {
  std::string name;           // a piece of att, unchanged
  TValueForm form = vfPlain;  // vfPlain when readable values are off
};
// The columns a profile's att asks for, with readable values on or off.
std::vector<TRequestedColumn> RequestedColumns(std::string_view att, bool readable);

// The whole export row: DN first, then one cell per requested column.
std::vector<std::string> BuildExportRow(const TLDAPResult& entry,
                                        const std::vector<TRequestedColumn>& columns);
// The same with the requested names given as a profile's att text.
std::vector<std::string> BuildExportRow(const TLDAPResult& entry, std::string_view att,
                                        bool readable = false);

// The entry's exact values for the requested columns (sqlstore/entryvalues.h):
// the DN, then for each column the attribute the requested name selects (as
// for the cells), its name as received and its values' bytes in order.
TEntryValues BuildEntryValues(const TLDAPResult& entry,
                              const std::vector<TRequestedColumn>& columns);
// The export row and the exact values at once, in one walk of the entry's
// attributes: `row` as BuildExportRow gives it, `packed` the blob of
// BuildEntryValues (TEntryValuePacker, `names` the rows table's columns).
void BuildExportRowAndValues(const TLDAPResult& entry, const std::vector<TRequestedColumn>& columns,
                             const std::vector<std::string>& names, std::vector<std::string>& row,
                             std::string& packed);

// One row of the property table.
struct TPropertyRow {
  std::string Icon;   // always "0"
  std::string Name;   // the attribute description as received
  std::string Value;  // ValueCellText of the value
  std::string Type;   // "BINARY" for a binary value, otherwise "TEXT"
  std::string Size;   // octets of the raw value, in decimal
};

// The property row of one value.
TPropertyRow BuildPropertyRow(const TLDAPAttribute& attribute, int value_index,
                              bool readable = false);
// The property rows of an entry: every value of every attribute, in order.
std::vector<TPropertyRow> BuildPropertyRows(const TLDAPResult& entry, bool readable = false);

}  // namespace quorvel
