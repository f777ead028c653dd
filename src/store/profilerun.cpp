#include "store/profilerun.h"

#include <exception>
#include <vector>

#include "store/rows.h"

namespace quorvel {

bool FillExportTable(Tdata& d, const TLDAPResultList& results, const std::string& att,
                     const TRowProgress& progress, int* written) {
  if (written) *written = 0;
  if (!d.CreateExportTable("oid;" + att)) return false;
  const std::vector<std::string> names = SplitAttributeList(att);
  const int n = results.Count();
  int ok = 0;
  d.BeginExportRows();
  for (int i = 0; i < n; ++i) {
    if (progress) progress(i + 1, n);
    const TLDAPResult* entry = results.Items(i);
    if (entry && d.InsertExportRow(BuildExportRow(*entry, names))) ++ok;
  }
  d.EndExportRows();
  if (written) *written = ok;
  return true;
}

bool OpenExportRows(Tdata& d, std::string* error) {
  try {
    d.run.Close();
    d.run.SetSQL(kExportRowsQuery);
    d.run.Open();
    return true;
  } catch (const std::exception& e) {
    if (error) *error = e.what();
    return false;
  }
}

}  // namespace quorvel
