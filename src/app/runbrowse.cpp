// Running a profile into the results grid, and the directory browser.
#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QTableView>
#include <QTreeWidget>
#include <optional>

#include "app/exporthookup.h"
#include "app/gridmodel.h"
#include "app/icons.h"
#include "app/mainform.h"
#include "app/resultsview.h"
#include "app/runstop.h"
#include "dialogs/busywork.h"
#include "export/kxexport.h"
#include "ldap/filter.h"
#include "ldap/searchdriver.h"
#include "store/connect.h"
#include "store/data.h"
#include "store/filelocations.h"
#include "store/profilerun.h"
#include "store/referrals.h"
#include "store/rows.h"
#include "store/secrets.h"
#include "store/shared.h"
#include "store/snapshotcopy.h"

using namespace quorvel;

namespace {

// The statement of an entry's properties in the grid; a cancelled command
// tells by it which rows the grid showed before.
constexpr const char* kPropertyRowsQuery = "SELECT * FROM property ORDER BY name ASC";

// Rows a run stores per transaction in the working store.
constexpr std::size_t kRunBatchRows = 2000;

// The busy cursor for the length of a command; restored early or at scope end.
class TBusyCursor {
 public:
  TBusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TBusyCursor() { Restore(); }
  void Restore() {
    if (active_) QApplication::restoreOverrideCursor();
    active_ = false;
  }

 private:
  bool active_ = true;
};

// The closing lines of an error box about a search: host, and the code and
// text the search ended with.
std::string QueryErrorText(const std::string& host, const TSearchOutcome& outcome) {
  return "Error querying \"" + host + "\" \r\n    ErrorCode: " + std::to_string(outcome.Code) +
         "\r\n    ErrorDesc: " + outcome.Text;
}

std::string Str(std::string_view v) {
  return std::string(v);
}

constexpr int kTreeRepaintMs = 50;

// The pane lines of the places a search was referred to and did not search.
void AddReferralLines(TMainForm& form, const TSearchOutcome& outcome) {
  for (const std::string& line : ReferralLines(outcome)) form.AddMessage(1, "MSG: " + line);
}

// The search of Browse (one level below base) and Properties (the base entry).
TProfileNodeData NodeProfile(int serverid, const std::string& base, int scope,
                             const std::string& att) {
  TProfileNodeData profile;
  profile.serverid = serverid;
  profile.basedn = base;
  profile.scope = scope;
  profile.filter = "(objectClass=*)";
  profile.att = att;
  return profile;
}

// The pane line of a search the user stopped.
std::string CancelledLine(const std::string& what, int entries) {
  return "MSG: " + what + " cancelled after " + std::to_string(entries) +
         (entries == 1 ? " entry" : " entries") + "...";
}

// One write transaction on the working store for a scope, committed at its
// end. The property listing is made and read back inside one, so another
// window listing an entry at the same moment can neither drop nor fill this
// one's `property` table in between. Should the store stay busy past its
// time-out, the listing goes on without (as it always did).
class TWorkingTransaction {
 public:
  explicit TWorkingTransaction(Tdata* d) : d_(d) {
    if (!d_) return;
    try {
      d_->temp.StartTransaction("IMMEDIATE");
      open_ = true;
    } catch (const std::exception&) {
    }
  }
  ~TWorkingTransaction() {
    if (!open_) return;
    try {
      if (d_->temp.InTransaction()) d_->temp.Commit();
    } catch (const std::exception&) {
      try {
        if (d_->temp.InTransaction()) d_->temp.RollBack();
      } catch (const std::exception&) {
      }
    }
  }
  TWorkingTransaction(const TWorkingTransaction&) = delete;
  TWorkingTransaction& operator=(const TWorkingTransaction&) = delete;

 private:
  Tdata* d_;
  bool open_ = false;
};

}  // namespace

void TMainForm::SetRunCommandsEnabled(bool on) {
  mnu_file_exit->setEnabled(on);
  mnu_actions_run->setEnabled(on);
  run_profile->setEnabled(on);
  mnu_actions_compare->setEnabled(on);
  compare_profile->setEnabled(on);
}

void TMainForm::SetExportEnabled(bool on) {
  tb_export->setEnabled(on);
  mnu_action_report->setEnabled(on);
  copy_results->setEnabled(on);
}

void TMainForm::ShowDataset(bool hideFirstColumn, const std::string& table,
                            const std::string* view) {
  resultsView->Detach();
  if (!::data) return;
  if (hideFirstColumn) {
    try {
      ::data->run.Close();
      ::data->run.SetSQL(kPropertyRowsQuery);
      ::data->run.Open();
    } catch (const std::exception& e) {
      LogError(std::string("Error reading the results: ") + e.what());
      return;
    }
    resultsView->ShowProperties(*::data);
    return;
  }
  // Without a table named: the rows shown last (the change rows of a
  // comparison, or the run's own table while its stream lives), else the
  // published ones.
  if (table.empty() && !shownChanges_.empty()) {
    resultsView->ShowRun(*::data, shownChanges_, resultsView->LastLayout(), "dn");
    UpdateResultsTitle();
    return;
  }
  const std::string rowsTable = !table.empty() ? table
                                : shownRows_   ? shownRows_->RowsTable()
                                               : std::string("export");
  resultsView->ShowRun(*::data, rowsTable, view ? *view : resultsView->LastLayout());
  UpdateResultsTitle();
}

bool TMainForm::ProfileSelected(const std::string& toDo) {
  TNodeData* d = NodeData(tv_workspace->currentItem());
  if (d && d->kind == 1) return true;
  LogInfo("Please select a Profile to " + toDo + " from the Workspace.");
  return false;
}

void TMainForm::mnu_actions_runClick() {
  if (ProfileSelected("test")) run_profileClick();
}

void TMainForm::mnu_actions_compareClick() {
  if (ProfileSelected("compare")) compare_profileClick();
}

// One Run command: what it changed in the window and what it holds while it
// runs. Whichever way the command ends, its destructor puts the window back:
// the Stop command hidden, the connection and an unpublished stream closed,
// the grid and the export commands as they were (after a cancel or rows that
// could not be stored), or the export commands on (after a search that gave
// its entries), the run commands enabled, the cursor restored and the pane
// written.
struct TMainForm::TProfileRun {
  // What the grid and the export commands showed comes back if the run is
  // cancelled.
  explicit TProfileRun(TMainForm& f)
      : form(f),
        gridShown(f.gridModel->Attached() && ::data),
        gridProperties(gridShown && ::data->run.SQL() == kPropertyRowsQuery),
        exportButtonOn(f.tb_export->isEnabled()),
        exportMenuOn(f.mnu_action_report->isEnabled()) {
    form.resultsView->Detach();
    form.mnu_file_exit->setEnabled(false);
    form.SetExportEnabled(false);
    form.mnu_actions_run->setEnabled(false);
    form.run_profile->setEnabled(false);
    form.mnu_actions_compare->setEnabled(false);
    form.compare_profile->setEnabled(false);
  }
  ~TProfileRun() {
    // A password asked for served the bind and the referrals followed.
    WipeOutsidePassword(server);
    if (stop) stop->End();
    copier.reset();
    rows.reset();
    ldap.reset();
    if (!busy) {
      // Nothing was selected to run: the commands come back, nothing else.
      form.SetRunCommandsEnabled(true);
      return;
    }
    if (restoreGrid) {
      if (gridShown) form.ShowDataset(gridProperties);
      form.tb_export->setEnabled(exportButtonOn);
      form.mnu_action_report->setEnabled(exportMenuOn);
      form.copy_results->setEnabled(exportMenuOn);
    }
    if (exportOn) form.SetExportEnabled(true);
    form.SetRunCommandsEnabled(true);
    busy->Restore();
    form.FlushPane();
  }
  TProfileRun(const TProfileRun&) = delete;
  TProfileRun& operator=(const TProfileRun&) = delete;

  // The selected profile and its server; false when nothing (or not a
  // profile) is selected.
  bool Select(QTreeWidgetItem* sel) {
    TNodeData* pd = NodeData(sel);
    TNodeData* sd = sel ? NodeData(sel->parent()) : nullptr;
    if (!pd || !pd->profile || !sd || !sd->server) return false;
    server = *sd->server;
    serverName = sd->name;
    profile = *pd->profile;
    profileId = pd->id;
    return true;
  }
  // Ends a run the user stopped after `entries` entries: the grid comes back.
  bool Cancelled(int entries) {
    stop->End();
    form.AddMessage(1, CancelledLine("Run", entries));
    restoreGrid = true;
    return false;
  }

  TMainForm& form;
  const bool gridShown;
  const bool gridProperties;
  const bool exportButtonOn;
  const bool exportMenuOn;
  TServerNodeData server;
  std::string serverName;
  TProfileNodeData profile;
  int profileId = 0;
  std::optional<TBusyCursor> busy;
  std::optional<TRunStop::TScope> stop;
  std::unique_ptr<TLDAPSend> ldap;
  std::unique_ptr<TExportRowStream> rows;
  // The run's values copied into the history file while it stores them.
  std::unique_ptr<quorvel::TSnapshotCopier> copier;
  TSearchCounter found;
  TSearchOutcome outcome;
  bool restoreGrid = false;  // the grid and the export commands as before the run
  bool compare = false;      // Compare with Previous Run: the change rows are shown
  bool exportOn = false;     // the search gave its entries: the export commands on
};

void TMainForm::run_profileClick() {
  RunProfileCommand(false);
}

void TMainForm::compare_profileClick() {
  RunProfileCommand(true);
}

void TMainForm::RunProfileCommand(bool compare) {
  // 1.
  if (!Confirm("This process may take several minutes depending on your query, do you want to "
               "proceed?"))
    return;
  // 2.
  TProfileRun run(*this);
  run.compare = compare;
  // 3. Nothing (or not a profile) selected: only re-enable.
  if (!run.Select(tv_workspace->currentItem())) return;
  // 4.-7.
  if (!RunConnect(run)) return;
  // 8.
  AddMessage(0, "MSG: Connected to " + run.server.server + "...");
  // 9.
  if (!RunSearch(run)) return;
  // 10.-16.
  RunShowResults(run);
}

bool TMainForm::RunConnect(TProfileRun& run) {
  run.busy.emplace();
  // The password of a server that asks for it, before anything is sent.
  if (!GivePassword(run.server, run.serverName, "Run")) {
    run.restoreGrid = true;
    return false;
  }
  // 4.
  AddMessage(0, "MSG: Please wait...");
  // 6.
  AddMessage(0, "MSG: Connecting to " + run.server.server + "...");
  // 7. The waits on the server run off the window thread: the window keeps
  // painting (the lines above show at once) and input is ignored, but for
  // Stop and Esc.
  run.stop.emplace(*runStop_);
  RunBusy([&] { run.ldap = ConnectServer(run.server, Trust(), &run.stop->Flag()); }, true);
  if (!run.ldap && run.stop->Stopped()) return run.Cancelled(0);
  if (!run.ldap) {
    ForgetGivenPassword(run.server);
    run.stop->End();
    AddMessage(2, "ERR: Error connecting to " + run.server.server + "...");
    return false;
  }
  if (run.stop->Stopped()) return run.Cancelled(0);
  return true;
}

bool TMainForm::RunSearch(TProfileRun& run) {
  // A filter that is not one would go out as something else (an empty
  // filter, or a parenthesis taken into a value) and come back as "nothing
  // found" or the wrong entries; say what is wrong and where instead. No
  // filter at all is fine: the search then asks for every object.
  const TProfileNodeData& profile = run.profile;
  const auto problem = profile.filter.empty() ? std::nullopt : quorvel::CheckFilter(profile.filter);
  if (problem) {
    run.stop->End();
    LogError("Error querying \"" + run.server.server + "\": the filter \"" + profile.filter +
             "\" is not a valid search filter. " + quorvel::FilterProblemText(*problem) + ".");
    AddMessage(1, "MSG: No objects found...");
    return false;
  }
  // The search keeps no entry: each one becomes a row as it arrives and is
  // released; what the lines below need of the whole result is counted.
  // The rows are stored while the entries arrive, on the thread that waits
  // for them; the window thread leaves the working store alone meanwhile.
  // The run keeps its own table while the grid reads its rows in place, so
  // another window publishing meanwhile cannot change what this one shows.
  if (::data)
    run.rows = std::make_unique<TExportRowStream>(*::data, profile.att, profile.readable, true);
  // Each transaction writes the tables' last pages into the store's log
  // again: a batch of 2000 rows writes a fraction of what 100 would, and a
  // batch still holds the store's write lock for a few milliseconds only.
  if (run.rows) run.rows->SetBatchRows(kRunBatchRows);
  // Most of the run is copied for its snapshot while the search waits on
  // the server, so little of the copy is left once the last entry is in.
  if (run.rows)
    run.copier = std::make_unique<quorvel::TSnapshotCopier>(
        ::data->temp, HistoryFile(Files.catalogue), run.profileId, *run.rows);
  TSearchTee tee(&run.found, run.rows ? run.rows->Sink().get() : nullptr);
  bool delivered = false;
  const TReferralFollowing follow{run.server, Trust()};
  RunBusy(
      [&] { delivered = SearchProfileInto(run.ldap.get(), profile, tee, &run.outcome, &follow); },
      true);
  run.stop->End();
  if (run.copier) run.copier->Stop();
  if (run.outcome.Failure == sfCancelled) {
    // The stream goes with its staged rows: `export` keeps the last run's.
    run.copier.reset();
    run.rows.reset();
    return run.Cancelled(run.outcome.Received);
  }
  if (!delivered) {
    AddMessage(1, "MSG: No objects found...");
    return false;
  }
  return true;
}

void TMainForm::RunShowResults(TProfileRun& run) {
  // 10.
  AddMessage(0, "MSG: Querying " + run.server.server + "...");
  // 11.
  const int n = run.found.Count();
  const std::string count = std::to_string(n);
  SetResultsTitle("Results from server \"" + run.server.server + "\" on object \"" +
                  run.profile.basedn + "\" with scope \"" + ScopeToText(run.profile.scope) +
                  "\" with filter \"" + run.profile.filter + "\" returned " + count + " objects." +
                  ReferralTitleNote(run.outcome));
  AddReferralLines(*this, run.outcome);
  if (n < 1) {
    // 12.
    if (run.outcome.Code != 0)
      LogError("No objects were found and an error was encountered!!\r\n\r\n" +
               QueryErrorText(run.ldap->TargetHost, run.outcome));
    else
      LogInfo("No objects found...");
    AddMessage(1, "MSG: No objects found...");
  } else {
    // 13.
    AddMessage(0, "MSG: Found " + count + " objects...");
    // 14.
    if (!RunStoreRows(run, count)) return;
    // 15.
    if (run.outcome.Code != 0)
      LogError("Search complete but an error was encountered!!\r\n\r\n" +
               QueryErrorText(run.ldap->TargetHost, run.outcome));
    else
      LogInfo("Search completed...");
    AddMessage(0, "MSG: Search completed...");
  }
  // 16.
  run.exportOn = true;
}

bool TMainForm::RunStoreRows(TProfileRun& run, const std::string& count) {
  // The same path as the headless runner: values are bound, so a value
  // holding a double quote still gets its row. The rows were stored while
  // the entries arrived; here they take the place of `export`.
  int written = 0;
  const bool stored = run.rows && run.rows->Finish(nullptr, &written);
  // A line per row, written at once: the rows are stored already.
  if (stored) AddNumberedMessages(0, "MSG: Processing object ", 1, written, " of " + count + "...");
  if (!stored && run.rows) {
    // A row that could not be stored fails the run: nothing is shown as
    // found, and `export` keeps the last run's rows.
    AddMessage(2, "ERR: " + run.rows->Error() + ". The last run's rows are kept.");
    run.restoreGrid = true;
    return false;
  }
  if (stored) {
    // The grid leaves the rows shown before, whose table then goes.
    // With the layout saved with the profile.
    shownProfileId_ = run.profileId;
    shownChanges_.clear();
    shownRows_ = std::move(run.rows);
    if (!ShowRunHistory(run.server, run.profile, run.profileId, run.outcome, run.compare,
                        run.copier.get()))
      ShowDataset(false, shownRows_->RowsTable(), &run.profile.view);
    // The formats that name the search, or give readable values, ask.
    ExportHookup().Engine().ResultFacts = {run.server.server, run.profile.basedn,
                                           ScopeToText(run.profile.scope), run.profile.filter,
                                           run.profile.readable};
  }
  return true;
}

std::unique_ptr<TLDAPSend> TMainForm::NodeConnect(TServerNodeData& record, bool errorLine) {
  AddMessage(0, "Connecting to " + record.server + "...");
  std::unique_ptr<TLDAPSend> ldap;
  RunBusy([&] { ldap = ConnectServer(record, Trust()); });
  if (!ldap) {
    WipeOutsidePassword(record);
    ForgetGivenPassword(record);
    if (errorLine) AddMessage(2, "ERR: Error connecting to " + record.server + "...");
    FlushPane();
    return nullptr;
  }
  AddMessage(0, "Connected to " + record.server + "...");
  return ldap;
}

TLDAPResultList* TMainForm::NodeQuery(TLDAPSend& ldap, TServerNodeData& record,
                                      const TProfileNodeData& profile, TSearchOutcome& outcome) {
  AddMessage(0, "Querying " + record.server + "...");
  TLDAPResultList* results = nullptr;
  {
    TRunStop::TScope stop(*runStop_);
    ldap.CancelFlag = &stop.Flag();
    TReferralFollowing follow{record, Trust()};
    RunBusy([&] { results = SearchProfile(&ldap, profile, &outcome, &follow); }, true);
    WipeOutsidePassword(follow.server);
  }
  WipeOutsidePassword(record);
  return results;
}

void TMainForm::o_browseClick() {
  // 1.
  QTreeWidgetItem* sel = tv_browse->currentItem();
  if (!sel) return;
  TBusyCursor busy;
  // 2.
  if (!sel->parent()) return;
  TNodeData* d = NodeData(sel);
  if (!d || !d->server) return;
  // 3. The old children go before connecting.
  TServerNodeData record = *d->server;
  if (!GivePassword(record, d->name, "Browse")) return;
  qDeleteAll(sel->takeChildren());
  const int id = d->id;
  const std::string name = d->name;
  // 4.-6.
  const std::unique_ptr<TLDAPSend> ldap = NodeConnect(record, true);
  if (!ldap) return;
  // 7.-9. Stop and Esc cancel the listing; the node stays without children.
  // The nodes made below keep no password asked for.
  TSearchOutcome outcome;
  TLDAPResultList* results =
      NodeQuery(*ldap, record, NodeProfile(id, record.basedn, 1, ""), outcome);
  if (outcome.Failure == sfCancelled) {
    AddMessage(1, CancelledLine("Browse", outcome.Received));
    FlushPane();
    return;
  }
  if (!results) {
    AddMessage(0, "No Objects found...");
    FlushPane();
    return;
  }
  // 10.
  const int n = results->Count();
  AddMessage(0, "Found " + std::to_string(n) + " objects...");
  AddReferralLines(*this, outcome);
  if (n > 0) {
    // 11.
    QElapsedTimer sinceRepaint;
    sinceRepaint.start();
    TBusyPainting painting;
    QTreeWidgetItem* last = nullptr;
    for (int i = 0; i < n; ++i) {
      const TLDAPResult& entry = *results->Items(i);
      const std::string dn = Str(entry.ObjectName());
      AddMessage(0, "Processing Object: " + dn + "...");
      auto child = std::make_unique<TNodeData>();
      child->kind = 2;
      child->id = id;
      child->name = name;
      child->server = std::make_unique<TServerNodeData>(record);
      child->server->basedn = dn;
      last = new TNodeItem(sel, QString::fromStdString(dn), std::move(child));
      last->setIcon(0, ImageListIcon(imgEntry, imgEntrySelected));
      // The tree follows the new nodes; painting is paced so that a level of
      // thousands of entries is not slowed down by its own display.
      if (sinceRepaint.elapsed() >= kTreeRepaintMs) {
        tv_browse->scrollToItem(last);
        tv_browse->viewport()->repaint();
        sinceRepaint.restart();
      }
      painting.Tick();
    }
    if (last) tv_browse->scrollToItem(last);
    tv_browse->viewport()->repaint();
    if (outcome.Code != 0)
      LogError("Query returned " + std::to_string(n) + " objects with an error!\r\n\r\n" +
               QueryErrorText(ldap->TargetHost, outcome));
    AddMessage(0, "Process completed...");
  }
  // 12.
  FlushPane();
}

void TMainForm::o_propertiesClick() {
  // 1.
  QTreeWidgetItem* sel = tv_browse->currentItem();
  if (!sel) return;
  TBusyCursor busy;
  TNodeData* d = NodeData(sel);
  if (!d || !d->server) return;
  TServerNodeData record = *d->server;
  if (!GivePassword(record, d->name, "Properties")) return;
  const std::string dn = sel->text(0).toStdString();
  // 2.-4.
  std::unique_ptr<TLDAPSend> ldap = NodeConnect(record, false);
  if (!ldap) return;
  const bool gridShown = gridModel->Attached() && ::data;
  const bool gridProperties = gridShown && ::data->run.SQL() == kPropertyRowsQuery;
  resultsView->Detach();
  // 5.-7. Stop and Esc cancel the listing; the grid shows what it showed.
  TSearchOutcome outcome;
  TLDAPResultList* results = NodeQuery(*ldap, record, NodeProfile(d->id, dn, 0, "*;+"), outcome);
  if (outcome.Failure == sfCancelled) {
    AddMessage(1, CancelledLine("Properties", outcome.Received));
    if (gridShown) ShowDataset(gridProperties);
    FlushPane();
    return;
  }
  // 8.
  TWorkingTransaction listing(::data);
  if (::data && ::data->CreatePropertyTable()) {
    if (!results) {
      // 9.
      AddMessage(0, "Query returned no results " + record.server + "...");
    } else {
      // 10.
      SetResultsTitle("Results from server \"" + record.server + "\" on object \"" + dn +
                      "\" with scope \"" + ScopeToText(0) + "\" and filter \"" + "(objectClass=*)" +
                      "\".");
      AddMessage(0, "Found " + std::to_string(results->Count()) + " results...");
      TBusyPainting painting;
      for (int i = 0; i < results->Count(); ++i) {
        const TLDAPResult& entry = *results->Items(i);
        const std::string entryDn = Str(entry.ObjectName());
        const TLDAPAttributeList attrs = entry.Attributes();
        for (int a = 0; a < attrs.Count(); ++a) {
          const TLDAPAttribute attr = attrs.Items(a);
          AddMessage(0, "Processing value(s) for Object: " + entryDn +
                            " Attribute: " + Str(attr.AttributeName()) + "...");
          for (int v = 0; v < attr.Count(); ++v) {
            // An entry's properties always show the readable forms: no
            // scheduled report depends on them.
            const TPropertyRow row = BuildPropertyRow(attr, v, true);
            ::data->AddProperty(row.Icon, row.Name, row.Value, row.Type, row.Size);
          }
          painting.Tick();
        }
      }
      SetExportEnabled(true);
      ShowDataset(true);
      AddMessage(0, "Process complete...");
    }
  }
  // 11.
  ldap.reset();
  FlushPane();
}
