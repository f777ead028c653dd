#include "store/profilerun.h"

#include <exception>
#include <vector>

#include "ldap/valueranges.h"
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

struct TExportRowStream::State {
  Tdata* d = nullptr;
  std::string att;
  bool readable = false;
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
      if (index != 0 || !d->ClearStagedExportRows()) {
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
    if (!d->InsertExportRow(BuildExportRow(entry, names)))
      live = false;  // Finish fills the table anew, where a failing row is left out alone
  }
};

TExportRowStream::TExportRowStream(Tdata& d, const std::string& att, bool readable)
    : state_(std::make_shared<State>()) {
  state_->d = &d;
  state_->att = att;
  state_->readable = readable;
  state_->names = RequestedColumns(att, readable);
  state_->live = d.CreateStagedExportTable("oid;" + att) && d.BeginExportRows();
}

TExportRowStream::~TExportRowStream() {
  // Whatever is still staged (a failed search, or rows given up on) goes;
  // after Finish nothing is.
  state_->live = false;
  state_->d->DropStagedExportTable();
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
  const int n = results.Count();
  bool whole = s.live && s.received == n;
  for (size_t k = 0; whole && k < s.later.size(); ++k) {
    const TLDAPResult* entry = results.Items(s.later[k]);
    whole = entry && s.d->InsertExportRow(BuildExportRow(*entry, s.names));
  }
  whole = whole && s.d->EndExportRows() && s.d->PublishStagedExportTable();
  s.live = false;
  if (!whole) {
    s.d->DropStagedExportTable();
    return FillExportTable(*s.d, results, s.att, progress, written, s.readable);
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
