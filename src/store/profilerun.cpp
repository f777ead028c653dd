#include "store/profilerun.h"

#include <atomic>
#include <exception>
#include <functional>
#include <optional>
#include <vector>

#include "ldap/searchdriver.h"
#include "sqlstore/entryvalues.h"
#include "store/rows.h"
#include "store/stagedtable.h"

namespace quorvel {

namespace {

// Appends a row per entry of `results` to `stage`; false at the first row
// that could not be stored.
bool AppendAll(TStagedExportTable& stage, const TLDAPResultList& results,
               const std::vector<TRequestedColumn>& names, const TRowProgress& progress) {
  const int n = results.Count();
  std::vector<std::string> row;
  std::string packed;
  for (int i = 0; i < n; ++i) {
    if (progress) progress(i + 1, n);
    const TLDAPResult* entry = results.Items(i);
    if (!entry) continue;
    BuildExportRowAndValues(*entry, names, stage.StoredNames(), row, packed);
    if (!stage.AppendPacked(row, packed)) return false;
  }
  return true;
}

}  // namespace

bool FillExportTable(Tdata& d, const TLDAPResultList& results, const std::string& att,
                     const TRowProgress& progress, int* written, bool readable,
                     std::string* error) {
  if (written) *written = 0;
  TStagedExportTable stage(d.temp);
  d.exp.Close();
  const bool ok = stage.Create("oid;" + att) &&
                  AppendAll(stage, results, RequestedColumns(att, readable), progress) &&
                  stage.Publish(TStagedExportTable::psMove);
  if (!ok) {
    if (error) *error = stage.Error();
    return false;
  }
  if (written) *written = static_cast<int>(stage.Rows());
  return true;
}

// The stream's half of the search: it stores each complete entry as it is
// told, starts over on a restart, and notes how the search ended.
struct TExportRowStream::State : TSearchSink {
  Tdata* d = nullptr;
  std::unique_ptr<TStagedExportTable> stage;
  bool keep = false;  // publish the run's own table and keep it the run's
  std::vector<TRequestedColumn> names;
  bool live = false;             // the staged table exists and every row so far is in it
  bool ended = false;            // End was told...
  bool delivers = false;         // ...of a search that gives its entries
  std::vector<std::string> row;  // the entry's row and packed values, on their way
  std::string packed;
  std::string valuesTable;  // set before the search, read from any thread
  std::shared_ptr<std::atomic<unsigned>> restarts = std::make_shared<std::atomic<unsigned>>(0);
  TRowTap* tap = nullptr;

  // On the thread that runs the search. The entry stays where it is: the
  // driver releases it once its row is stored.
  bool Entry(std::unique_ptr<TLDAPResult>& entry, int) override {
    if (!live) return true;
    // Nothing may escape into the search. A row that could not be built or
    // stored fails the staging, and Finish says so; the search reads on, so
    // that the run ends with what it found and why its rows were not kept.
    try {
      BuildExportRowAndValues(*entry, names, stage->StoredNames(), row, packed);
      if (!stage->AppendPacked(row, packed))
        live = false;
      else if (tap)
        tap->Row(row);
    } catch (const std::exception& e) {
      stage->Fail("the row of \"" + std::string(entry->ObjectName()) +
                  "\" could not be made: " + e.what());
      live = false;
    } catch (...) {
      stage->Fail("the row of \"" + std::string(entry->ObjectName()) + "\" could not be made");
      live = false;
    }
    return true;
  }
  void Restart() override {
    if (live && !stage->Clear()) live = false;
    restarts->fetch_add(1);
    if (tap) tap->Restart();
  }
  void End(const TSearchOutcome& outcome) override {
    ended = true;
    delivers = outcome.Delivers();
  }
};

TExportRowStream::TExportRowStream(Tdata& d, const std::string& att, bool readable,
                                   bool keepOwnRows)
    : state_(std::make_shared<State>()) {
  state_->d = &d;
  state_->stage = std::make_unique<TStagedExportTable>(d.temp);
  state_->keep = keepOwnRows;
  state_->names = RequestedColumns(att, readable);
  state_->live = state_->stage->Create("oid;" + att);
  if (state_->live) state_->valuesTable = EntryValuesTable(state_->stage->Name());
}

void TExportRowStream::SetBatchRows(std::size_t rows) {
  state_->stage->SetBatchRows(rows);
}

void TExportRowStream::SetRowTap(TRowTap* tap) {
  state_->tap = tap;
}

const std::vector<std::string>& TExportRowStream::StoredColumns() const {
  return state_->stage->StoredNames();
}

TExportRowStream::~TExportRowStream() {
  // Whatever is still staged (a failed search, or rows given up on) goes,
  // and so does the run's own table kept after Finish.
  state_->live = false;
  state_->stage->Discard();
}

std::shared_ptr<TSearchSink> TExportRowStream::Sink() {
  return state_;
}

bool TExportRowStream::Finish(const TRowProgress& progress, int* written) {
  State& s = *state_;
  TStagedExportTable& stage = *s.stage;
  if (written) *written = 0;
  const bool whole = s.live && s.ended && s.delivers;
  s.live = false;
  // The rows of a search that did not give its entries are not the result's.
  if (!whole) {
    if (!stage.Failed()) stage.Fail("the search did not give its entries");
    return false;
  }
  s.d->exp.Close();
  if (!stage.Publish(s.keep ? TStagedExportTable::psKeep : TStagedExportTable::psMove))
    return false;
  const int n = static_cast<int>(stage.Rows());
  if (progress)
    for (int i = 1; i <= n; ++i) progress(i, n);
  if (written) *written = n;
  return true;
}

const std::string& TExportRowStream::Error() const {
  return state_->stage->Error();
}

std::string TExportRowStream::StagedValuesTable() const {
  return state_->valuesTable;
}

std::shared_ptr<const std::atomic<unsigned>> TExportRowStream::Restarts() const {
  return state_->restarts;
}

std::string TExportRowStream::RowsTable() const {
  const std::string& own = state_->stage->Name();
  return own.empty() ? std::string("export") : own;
}

namespace {

// Opens d.run on a run's rows by the name of its table, wherever they are
// (store/stagedtable.h): found, opened, then found again, and opened anew
// when they moved in between, so that the reader holds the very table asked
// for (it follows the table itself from then on).
bool OpenRunRows(Tdata& d, const std::string& name, std::string* error,
                 const std::function<void(const std::string& table)>& open) {
  try {
    std::string table = RunRowsTable(d.temp, name);
    for (int attempt = 0;; ++attempt) {
      d.run.Close();
      open(table);
      const std::string now = RunRowsTable(d.temp, name);
      if (now == table || attempt >= 8) return true;
      table = now;
    }
  } catch (const std::exception& e) {
    if (error) *error = e.what();
    return false;
  }
}

}  // namespace

bool OpenShownRows(Tdata& d, TRowQuery shown, std::string* error) {
  std::optional<std::string> unknown;
  const std::string name = shown.Table;
  const bool opened = OpenRunRows(d, name, error, [&](const std::string& table) {
    shown.Table = table;
    unknown = shown.Resolve(d.temp);
    if (unknown) return;
    d.run.SetRowQuery(shown);
    d.run.Open();
  });
  if (opened && unknown) {
    if (error) *error = *unknown;
    return false;
  }
  return opened;
}

std::vector<std::string> RunColumns(const std::string& att) {
  std::vector<std::string> columns{"oid"};
  for (const TRequestedColumn& c : RequestedColumns(att, false)) columns.push_back(c.name);
  return columns;
}

bool OpenExportRows(Tdata& d, std::string* error, const std::string& table) {
  return OpenRunRows(d, table, error, [&](const std::string& now) {
    d.run.SetInPlaceSQL(now, "oid");
    d.run.Open();
  });
}

}  // namespace quorvel
