#include "store/profilerun.h"

#include <exception>
#include <vector>

#include "ldap/valueranges.h"
#include "store/rows.h"
#include "store/stagedtable.h"

namespace quorvel {

namespace {

// Appends a row per entry of `results` to `stage`; false at the first row
// that could not be stored.
bool AppendAll(TStagedExportTable& stage, const TLDAPResultList& results,
               const std::vector<TRequestedColumn>& names, const TRowProgress& progress) {
  const int n = results.Count();
  for (int i = 0; i < n; ++i) {
    if (progress) progress(i + 1, n);
    const TLDAPResult* entry = results.Items(i);
    if (entry && !stage.Append(BuildExportRow(*entry, names))) return false;
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

struct TExportRowStream::State {
  Tdata* d = nullptr;
  std::unique_ptr<TStagedExportTable> stage;
  bool keep = false;  // publish a copy and keep the run's own table
  std::vector<TRequestedColumn> names;
  bool live = false;       // the staged table exists and every row so far is in it
  int received = 0;        // entries of the present attempt seen: stored, or waiting in `later`
  std::vector<int> later;  // of them, positions waiting for their ranged values

  // On the thread that runs the search.
  void Entry(const TLDAPResult& entry, int index) {
    if (!live) return;
    if (index != received) {
      // Position 0 again: the entries so far were dropped (the search is read
      // again in pages). Anything else is not followed: Finish fills anew.
      if (index != 0 || !stage->Clear()) {
        live = false;
        return;
      }
      received = 0;
      later.clear();
    }
    ++received;
    if (HasRangedValues(entry)) {
      later.push_back(index);
      return;
    }
    // A row that could not be stored fails the staging; Finish says so.
    if (!stage->Append(BuildExportRow(entry, names))) live = false;
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
}

TExportRowStream::~TExportRowStream() {
  // Whatever is still staged (a failed search, or rows given up on) goes,
  // and so does the run's own table kept after Finish.
  state_->live = false;
  state_->stage->Discard();
}

void TExportRowStream::Attach(TLDAPSend& session) {
  std::shared_ptr<State> state = state_;
  session.OnSearchEntryReceived = [state](const TLDAPResult& entry, int index) {
    // Nothing may escape into the search; a row that could not even be built
    // leaves the table to Finish.
    try {
      state->Entry(entry, index);
    } catch (...) {
      state->live = false;
    }
  };
}

bool TExportRowStream::Finish(const TLDAPResultList& results, const TRowProgress& progress,
                              int* written) {
  State& s = *state_;
  TStagedExportTable& stage = *s.stage;
  if (written) *written = 0;
  const int n = results.Count();
  bool whole = s.live && s.received == n;
  for (size_t k = 0; whole && k < s.later.size(); ++k) {
    const TLDAPResult* entry = results.Items(s.later[k]);
    whole = entry && stage.Append(BuildExportRow(*entry, s.names));
  }
  s.live = false;
  // Rows not followed as they arrived are stored anew from the results; a
  // staging that failed to store a row fails the run.
  if (!whole && (stage.Failed() || !stage.Clear() || !AppendAll(stage, results, s.names, progress)))
    return false;
  s.d->exp.Close();
  if (!stage.Publish(s.keep ? TStagedExportTable::psCopy : TStagedExportTable::psMove))
    return false;
  if (whole && progress)
    for (int i = 1; i <= n; ++i) progress(i, n);
  if (written) *written = static_cast<int>(stage.Rows());
  return true;
}

const std::string& TExportRowStream::Error() const {
  return state_->stage->Error();
}

std::string TExportRowStream::RowsQuery() const {
  const std::string& own = state_->stage->Name();
  if (own.empty()) return kExportRowsQuery;
  return "SELECT * FROM " + QuoteIdentifier(own) + " ORDER BY oid ASC";
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
