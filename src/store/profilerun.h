// The part of a profile run that turns a search result into the rows of the
// working table `export` and opens them for display or export. The windowed
// program and the headless runner both go through it, so their rows (and
// therefore their reports) are the same.
#pragma once

#include <functional>
#include <string>

#include "ldap/results.h"
#include "store/data.h"

namespace quorvel {

// The statement whose rows the results grid shows and the reports are made of.
inline constexpr const char* kExportRowsQuery = "SELECT * FROM export ORDER BY oid ASC";

// Called before each entry is written: i counts from 1 to n.
using TRowProgress = std::function<void(int i, int n)>;

// Re-creates `export` with "oid" and one column per piece of att, then writes one
// row per entry in the order received. False when the table could not be made
// (nothing is written then). A row whose insert fails is left out; the count of
// rows written is returned through `written` when given.
bool FillExportTable(Tdata& d, const TLDAPResultList& results, const std::string& att,
                     const TRowProgress& progress = nullptr, int* written = nullptr);

// Opens d.run on the export rows in "oid" order. False (with the reason in
// `error`) when the statement failed.
bool OpenExportRows(Tdata& d, std::string* error = nullptr);

}  // namespace quorvel
