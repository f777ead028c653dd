#include "store/profilerun.h"

#include <exception>
#include <vector>

#include "ldap/searchdriver.h"
#include "store/rows.h"

namespace quorvel {

bool FillExportTable(Tdata& d, const TLDAPResultList& results, const std::string& att,
                     const TRowProgress& progress, int* written, bool readable) {
  if (written) *written = 0;
  if (!d.CreateExportTable("oid;" + att)) return false;
  const std::vector<TRequestedColumn> names = RequestedColumns(att, readable);
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

// The stream's half of the search: it stores each complete entry as it is
// told, starts over on a restart, and notes how the search ended.
struct TExportRowStream::State : TSearchSink {
  Tdata* d = nullptr;
  std::vector<TRequestedColumn> names;
  bool live = false;      // the staged table exists and every row so far is in it
  bool ended = false;     // End was told...
  bool delivers = false;  // ...of a search that gives its entries

  // On the thread that runs the search.
  bool Entry(std::unique_ptr<TLDAPResult>& entry, int) override {
    if (!live) return true;
    // Nothing may escape into the search; a row that could not be stored (or
    // even built) leaves the table to Finish, which fills it anew and leaves
    // out a failing row alone.
    try {
      if (!d->InsertExportRow(BuildExportRow(*entry, names))) live = false;
    } catch (...) {
      live = false;
    }
    return true;
  }
  void Restart() override {
    if (live && !d->ClearStagedExportRows()) live = false;
  }
  void End(const TSearchOutcome& outcome) override {
    ended = true;
    delivers = outcome.Delivers();
  }
};

TExportRowStream::TExportRowStream(Tdata& d, const std::string& att, bool readable)
    : att_(att), readable_(readable), state_(std::make_shared<State>()) {
  state_->d = &d;
  state_->names = RequestedColumns(att, readable);
  state_->live = d.CreateStagedExportTable("oid;" + att) && d.BeginExportRows();
}

TExportRowStream::~TExportRowStream() {
  // Whatever is still staged (a failed search, or rows given up on) goes;
  // after Finish nothing is.
  state_->live = false;
  state_->d->DropStagedExportTable();
}

std::shared_ptr<TSearchSink> TExportRowStream::Sink() {
  return state_;
}

void TExportRowStream::Attach(TLDAPSend& session) {
  session.SearchListener = state_;
}

bool TExportRowStream::Finish(const TLDAPResultList& results, const TRowProgress& progress,
                              int* written) {
  State& s = *state_;
  const int n = results.Count();
  // Every entry of the search was told and stored: the staged table is the
  // result's.
  const bool whole =
      s.live && s.ended && s.delivers && s.d->EndExportRows() && s.d->PublishStagedExportTable();
  s.live = false;
  if (!whole) {
    s.d->DropStagedExportTable();
    return FillExportTable(*s.d, results, att_, progress, written, readable_);
  }
  if (progress)
    for (int i = 1; i <= n; ++i) progress(i, n);
  if (written) *written = n;
  return true;
}

bool OpenExportRows(Tdata& d, std::string* error) {
  try {
    d.run.Close();
    d.run.SetInPlaceSQL("export", "oid");
    d.run.Open();
    return true;
  } catch (const std::exception& e) {
    if (error) *error = e.what();
    return false;
  }
}

}  // namespace quorvel
