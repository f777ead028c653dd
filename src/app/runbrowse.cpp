// Running a profile into the results grid, and the directory browser.
#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QTableView>
#include <QTreeWidget>
#include <optional>

#include "app/gridmodel.h"
#include "app/icons.h"
#include "app/mainform.h"
#include "app/runstop.h"
#include "dialogs/busywork.h"
#include "ldap/filter.h"
#include "ldap/searchdriver.h"
#include "store/connect.h"
#include "store/data.h"
#include "store/profilerun.h"
#include "store/referrals.h"
#include "store/rows.h"
#include "store/shared.h"

using namespace quorvel;

namespace {

// The statement of an entry's properties in the grid; a cancelled command
// tells by it which rows the grid showed before.
constexpr const char* kPropertyRowsQuery = "SELECT * FROM property ORDER BY name ASC";

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

// The closing lines of an error box about a search: host, code and text.
std::string QueryErrorText(const TLDAPSend& ldap) {
  return "Error querying \"" + ldap.TargetHost +
         "\" \r\n    ErrorCode: " + std::to_string(ldap.ResultCode()) +
         "\r\n    ErrorDesc: " + ldap.ResultString();
}

std::string Str(std::string_view v) {
  return std::string(v);
}

constexpr int kTreeRepaintMs = 50;

// The pane lines of the places a search was referred to and did not search.
void AddReferralLines(TMainForm& form, const TSearchOutcome& outcome) {
  for (const std::string& line : ReferralLines(outcome)) form.AddMessage(1, "MSG: " + line);
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
}

void TMainForm::SetExportEnabled(bool on) {
  tb_export->setEnabled(on);
  mnu_action_report->setEnabled(on);
  copy_results->setEnabled(on);
}

void TMainForm::ShowDataset(bool hideFirstColumn, const std::string& table) {
  gridModel->Detach();
  if (!::data) return;
  std::string error;
  bool open = false;
  if (hideFirstColumn) {
    try {
      ::data->run.Close();
      ::data->run.SetSQL(kPropertyRowsQuery);
      ::data->run.Open();
      open = true;
    } catch (const std::exception& e) {
      error = e.what();
    }
  } else {
    // Without a table named: the run's rows shown last (its own table while
    // its stream lives), else the published ones.
    const std::string rowsTable = !table.empty() ? table
                                  : shownRows_   ? shownRows_->RowsTable()
                                                 : std::string("export");
    open = OpenExportRows(*::data, &error, rowsTable);
  }
  if (!open) {
    LogError("Error reading the results: " + error);
    return;
  }
  gridModel->Attach(&::data->run);
  for (int c = 0; c < gridModel->columnCount(); ++c) {
    grid->setColumnHidden(c, hideFirstColumn && c == 0);
    grid->setColumnWidth(c, 100);
  }
}

void TMainForm::mnu_actions_runClick() {
  TNodeData* d = NodeData(tv_workspace->currentItem());
  if (!d || d->kind != 1) {
    LogInfo("Please select a Profile to test from the Workspace.");
    return;
  }
  run_profileClick();
}

void TMainForm::run_profileClick() {
  // 1.
  if (!Confirm("This process may take several minutes depending on your query, do you want to "
               "proceed?"))
    return;
  // 2. What the grid and the export commands showed comes back if the run is
  // cancelled.
  const bool gridShown = gridModel->Attached() && ::data;
  const bool gridProperties = gridShown && ::data->run.SQL() == kPropertyRowsQuery;
  const bool exportButtonOn = tb_export->isEnabled();
  const bool exportMenuOn = mnu_action_report->isEnabled();
  gridModel->Detach();
  mnu_file_exit->setEnabled(false);
  SetExportEnabled(false);
  mnu_actions_run->setEnabled(false);
  run_profile->setEnabled(false);

  QTreeWidgetItem* sel = tv_workspace->currentItem();
  TNodeData* pd = NodeData(sel);
  TNodeData* sd = sel ? NodeData(sel->parent()) : nullptr;
  // 3. Nothing (or not a profile) selected: only re-enable.
  if (!pd || !pd->profile || !sd || !sd->server) {
    SetRunCommandsEnabled(true);
    return;
  }
  // 4.
  AddMessage(0, "MSG: Please wait...");
  TBusyCursor busy;
  // 5.
  const TServerNodeData server = *sd->server;
  const TProfileNodeData profile = *pd->profile;
  // 6.
  AddMessage(0, "MSG: Connecting to " + server.server + "...");
  // 7. The waits on the server run off the window thread: the window keeps
  // painting (the lines above show at once) and input is ignored, but for
  // Stop and Esc.
  TRunStop::TScope stop(*runStop_);
  auto restoreGrid = [&] {
    if (gridShown) ShowDataset(gridProperties);
    tb_export->setEnabled(exportButtonOn);
    mnu_action_report->setEnabled(exportMenuOn);
    copy_results->setEnabled(exportMenuOn);
  };
  auto cancelled = [&](int entries) {
    stop.End();
    AddMessage(1, CancelledLine("Run", entries));
    restoreGrid();
    SetRunCommandsEnabled(true);
    busy.Restore();
    FlushPane();
  };
  std::unique_ptr<TLDAPSend> ldap;
  RunBusy([&] { ldap = ConnectServer(server, Trust(), &stop.Flag()); }, true);
  if (!ldap && stop.Stopped()) return cancelled(0);
  if (!ldap) {
    stop.End();
    AddMessage(2, "ERR: Error connecting to " + server.server + "...");
    SetRunCommandsEnabled(true);
    busy.Restore();
    FlushPane();
    return;
  }
  if (stop.Stopped()) return cancelled(0);
  // 8.
  AddMessage(0, "MSG: Connected to " + server.server + "...");
  // 9. A filter that cannot be translated at all would go out as an empty
  // filter and come back as "nothing found"; say what is wrong instead. No
  // filter at all is fine: the search then asks for every object.
  // The search keeps no entry: each one becomes a row as it arrives and is
  // released; what the lines below need of the whole result is counted.
  bool delivered = false;
  TSearchCounter found;
  std::unique_ptr<TExportRowStream> rows;
  TSearchOutcome outcome;
  if (!profile.filter.empty() && EncodeFilter(profile.filter).empty()) {
    stop.End();
    LogError("Error querying \"" + server.server + "\": the filter \"" + profile.filter +
             "\" is not a valid search filter.");
  } else {
    // The rows are stored while the entries arrive, on the thread that waits
    // for them; the window thread leaves the working store alone meanwhile.
    // The run keeps its own table while the grid reads its rows in place, so
    // another window publishing meanwhile cannot change what this one shows.
    if (::data)
      rows = std::make_unique<TExportRowStream>(*::data, profile.att, profile.readable, true);
    TSearchTee tee(&found, rows ? rows->Sink().get() : nullptr);
    const TReferralFollowing follow{server, Trust()};
    RunBusy([&] { delivered = SearchProfileInto(ldap.get(), profile, tee, &outcome, &follow); },
            true);
    stop.End();
    if (outcome.Failure == sfCancelled) {
      // The stream goes with its staged rows: `export` keeps the last run's.
      rows.reset();
      ldap.reset();
      return cancelled(outcome.Received);
    }
  }
  if (!delivered) {
    AddMessage(1, "MSG: No objects found...");
    ldap.reset();
    SetRunCommandsEnabled(true);  // 17.
    busy.Restore();
    FlushPane();
    return;
  }
  // 10.
  AddMessage(0, "MSG: Querying " + server.server + "...");
  // 11.
  const int n = found.Count();
  const std::string count = std::to_string(n);
  title->setText(QString::fromStdString(
      "Results from server \"" + server.server + "\" on object \"" + profile.basedn +
      "\" with scope \"" + ScopeToText(profile.scope) + "\" with filter \"" + profile.filter +
      "\" returned " + count + " objects." + ReferralTitleNote(outcome)));
  AddReferralLines(*this, outcome);
  if (n < 1) {
    // 12.
    if (ldap->ResultCode() != 0)
      LogError("No objects were found and an error was encountered!!\r\n\r\n" +
               QueryErrorText(*ldap));
    else
      LogInfo("No objects found...");
    AddMessage(1, "MSG: No objects found...");
  } else {
    // 13.
    AddMessage(0, "MSG: Found " + count + " objects...");
    // 14.
    // The same path as the headless runner: values are bound, so a value
    // holding a double quote still gets its row. The rows were stored while
    // the entries arrived; here they take the place of `export`.
    TBusyPainting painting;
    const bool stored = rows && rows->Finish([&](int i, int) {
      AddMessage(0, "MSG: Processing object " + std::to_string(i) + " of " + count + "...");
      painting.Tick();
    });
    if (!stored && rows) {
      // A row that could not be stored fails the run: nothing is shown as
      // found, and `export` keeps the last run's rows.
      AddMessage(2, "ERR: " + rows->Error() + ". The last run's rows are kept.");
      restoreGrid();
      ldap.reset();
      SetRunCommandsEnabled(true);
      busy.Restore();
      FlushPane();
      return;
    }
    if (stored) {
      // The grid leaves the rows shown before, whose table then goes.
      ShowDataset(false, rows->RowsTable());
      shownRows_ = std::move(rows);
    }
    // 15.
    if (ldap->ResultCode() != 0)
      LogError("Search complete but an error was encountered!!\r\n\r\n" + QueryErrorText(*ldap));
    else
      LogInfo("Search completed...");
    AddMessage(0, "MSG: Search completed...");
  }
  // 16.
  SetExportEnabled(true);
  SetRunCommandsEnabled(true);
  busy.Restore();
  ldap.reset();
  FlushPane();
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
  qDeleteAll(sel->takeChildren());
  const TServerNodeData record = *d->server;
  const int id = d->id;
  const std::string name = d->name;
  // 4.
  AddMessage(0, "Connecting to " + record.server + "...");
  // 5.
  std::unique_ptr<TLDAPSend> ldap;
  RunBusy([&] { ldap = ConnectServer(record, Trust()); });
  if (!ldap) {
    AddMessage(2, "ERR: Error connecting to " + record.server + "...");
    FlushPane();
    return;
  }
  // 6.
  AddMessage(0, "Connected to " + record.server + "...");
  // 7.
  TProfileNodeData profile;
  profile.serverid = id;
  profile.basedn = record.basedn;
  profile.scope = 1;
  profile.filter = "(objectClass=*)";
  profile.att = "";
  // 8.
  AddMessage(0, "Querying " + record.server + "...");
  // 9. Stop and Esc cancel the listing; the node stays without children.
  TLDAPResultList* results = nullptr;
  TSearchOutcome outcome;
  {
    TRunStop::TScope stop(*runStop_);
    ldap->CancelFlag = &stop.Flag();
    const TReferralFollowing follow{record, Trust()};
    RunBusy([&] { results = SearchProfile(ldap.get(), profile, &outcome, &follow); }, true);
  }
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
    if (ldap->ResultCode() != 0)
      LogError("Query returned " + std::to_string(n) + " objects with an error!\r\n\r\n" +
               QueryErrorText(*ldap));
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
  const TServerNodeData record = *d->server;
  const std::string dn = sel->text(0).toStdString();
  // 2.
  AddMessage(0, "Connecting to " + record.server + "...");
  // 3.
  std::unique_ptr<TLDAPSend> ldap;
  RunBusy([&] { ldap = ConnectServer(record, Trust()); });
  if (!ldap) {
    FlushPane();
    return;
  }
  // 4.
  AddMessage(0, "Connected to " + record.server + "...");
  const bool gridShown = gridModel->Attached() && ::data;
  const bool gridProperties = gridShown && ::data->run.SQL() == kPropertyRowsQuery;
  gridModel->Detach();
  // 5.
  TProfileNodeData profile;
  profile.serverid = d->id;
  profile.basedn = dn;
  profile.scope = 0;
  profile.filter = "(objectClass=*)";
  profile.att = "*;+";
  // 6.
  AddMessage(0, "Querying " + record.server + "...");
  // 7. Stop and Esc cancel the listing; the grid shows what it showed.
  TLDAPResultList* results = nullptr;
  TSearchOutcome outcome;
  {
    TRunStop::TScope stop(*runStop_);
    ldap->CancelFlag = &stop.Flag();
    const TReferralFollowing follow{record, Trust()};
    RunBusy([&] { results = SearchProfile(ldap.get(), profile, &outcome, &follow); }, true);
  }
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
      title->setText(QString::fromStdString(
          "Results from server \"" + record.server + "\" on object \"" + dn + "\" with scope \"" +
          ScopeToText(0) + "\" and filter \"" + "(objectClass=*)" + "\"."));
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
