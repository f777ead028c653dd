// A window run's history: the run that published its rows becomes its
// profile's snapshot in the history file beside the catalogue (shared with
// quorvel-report), and "Compare with Previous Run" shows the change rows of
// the run against the snapshot before in the grid (store/changes.h).
#include <QLabel>

#include "app/mainform.h"
#include "app/resultsview.h"
#include "ldap/searchdriver.h"
#include "store/changes.h"
#include "store/connect.h"
#include "store/data.h"
#include "store/filelocations.h"
#include "store/profilerun.h"
#include "store/shared.h"
#include "store/snapshotcopy.h"

using namespace quorvel;

namespace {

// The title line of a change report: the search, then what was compared.
std::string ChangesTitle(const TServerNodeData& server, const TProfileNodeData& profile,
                         const TChangeOutcome& out) {
  std::string text = "Changes on server \"" + server.server + "\" on object \"" + profile.basedn +
                     "\" with scope \"" + ScopeToText(profile.scope) + "\" with filter \"" +
                     profile.filter + "\"";
  if (out.compared)
    return text + " since the snapshot of " + out.snapshot->taken + ": " + out.counts.Text() + ".";
  return text + ": " + out.line;
}

}  // namespace

bool TMainForm::ShowRunHistory(const TServerNodeData& server, const TProfileNodeData& profile,
                               int profileId, const TSearchOutcome& outcome, bool compare,
                               TSnapshotCopier* copier) {
  if (!::data || !shownRows_) return false;
  // Cut short by the size limit, or with places referred to left unsearched,
  // the run is not the directory's whole answer: the snapshot stays.
  const bool complete = outcome.Code == 0 && outcome.NotSearched.empty();
  if (!compare && !complete) return false;
  const std::string rowsTable = shownRows_->RowsTable();
  // A companion of the run's own table: it goes with the run's rows.
  const std::string changesTable = rowsTable + "_changes";
  const std::vector<TRequestedColumn> columns = RequestedColumns(profile.att, profile.readable);
  const TSnapshotFacts facts{server.server + ":" + std::to_string(server.port),
                             profile.basedn,
                             profile.scope,
                             profile.filter,
                             profile.att,
                             SnapshotTime()};
  THistory history(::data->temp);
  TChangeOutcome out;
  out.keep = complete;
  std::string error;
  bool ok = history.Open(HistoryFile(Files.catalogue), error);
  if (ok && compare)
    ok = CompareRun(history, profileId, facts, complete, rowsTable, columns, changesTable, out,
                    error);
  if (!ok) {
    AddMessage(2, "ERR: " + error + (compare ? " The run's rows are shown." : ""));
    return false;
  }
  const bool kept = !out.keep || (copier ? copier->Keep(history, facts, rowsTable, error)
                                         : history.Keep(profileId, facts, rowsTable, error));
  if (!kept) AddMessage(1, "MSG: This run could not be kept for the next comparison: " + error);
  if (!compare) return false;
  AddMessage(0, "MSG: " + out.line);
  // The change rows have a layout of their own: nothing is saved with the
  // profile while they are shown.
  shownProfileId_ = 0;
  shownChanges_ = changesTable;
  titleText_ = ChangesTitle(server, profile, out);
  resultsView->ShowRun(*::data, changesTable, std::string(), "dn");
  UpdateResultsTitle();
  return true;
}
