// The part of a profile run that turns a search result into the rows of the
// working table `export` and opens them for display or export. The windowed
// program and the headless runner both go through it, so their rows (and
// therefore their reports) are the same.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "ldap/results.h"
#include "sqlstore/rowquery.h"
#include "store/data.h"

namespace quorvel {

class TSearchSink;

// Called before each entry is written: i counts from 1 to n.
using TRowProgress = std::function<void(int i, int n)>;

// Makes `export` anew with "oid" and one column per piece of att, holding one
// row per entry in the order received, its values in their readable forms when
// `readable` is set (store/rows.h). The rows are staged first
// (store/stagedtable.h), so that `export` is only ever replaced by every row.
// False when any row could not be stored, with the reason in `error` when
// given: `export` then keeps the last run's rows. The count of rows written
// goes to `written` when given.
bool FillExportTable(Tdata& d, const TLDAPResultList& results, const std::string& att,
                     const TRowProgress& progress = nullptr, int* written = nullptr,
                     bool readable = false, std::string* error = nullptr);

// Told of each row a TExportRowStream stores, on the thread that runs the
// search, in the order stored: a report written while the search still runs
// takes its rows from here.
class TRowTap {
 public:
  virtual ~TRowTap() = default;
  // The row as stored: the DN, then one cell per requested column.
  virtual void Row(const std::vector<std::string>& cells) = 0;
  // The search has started over: the rows told before are not the run's.
  virtual void Restart() = 0;
};

// Stores a run's rows while its search is still arriving, so that storing
// overlaps the wait for the server instead of following it, and so that no
// entry is kept once its row is stored. It is a sink of the search driver
// (ldap/searchdriver.h): each complete entry it is told becomes a row of a
// staged table at once (the entry itself is left to the driver, which
// releases it), a restart empties the staged table, and the end says whether
// the search gives its entries. Finish then publishes the staged table, which
// holds exactly the rows FillExportTable would make from the final result.
// A row that could not be built or stored fails the run (Finish false, the
// reason in Error()); so does a search that did not give its entries. A
// stream dropped without Finish (a failed or cancelled search) drops its
// staged table: `export` keeps the last run's rows.
//
// The staged table is this run's own (other programs on the same working
// store stage and publish theirs meanwhile). With keepOwnRows, Finish
// publishes the run's own table as `export` without writing its rows again
// and keeps it this run's until the stream is destroyed: another program's
// publish sets it aside under its staged name rather than dropping it, so
// RowsTable() names exactly this run's rows wherever they are, and a grid
// reading them follows them (the window's grid). Without it the
// table itself becomes `export` and is let go (the headless runner's
// private store).
//
//   TExportRowStream stream(d, profile.att, profile.readable);
//   TSearchCounter found;
//   TSearchTee tee(&found, stream.Sink().get());
//   if (SearchProfileInto(ldap, profile, tee) && found.Count() > 0) stream.Finish(progress);
class TExportRowStream {
 public:
  // Rows as FillExportTable writes them for att and readable.
  TExportRowStream(Tdata& d, const std::string& att, bool readable = false,
                   bool keepOwnRows = false);
  ~TExportRowStream();
  TExportRowStream(const TExportRowStream&) = delete;
  TExportRowStream& operator=(const TExportRowStream&) = delete;

  // The sink to run the search into (SearchProfileInto, or a driver run
  // directly). It may outlive the stream: told after the stream has gone, it
  // does nothing.
  std::shared_ptr<TSearchSink> Sink();
  // Publishes the rows of a search that has ended and given its entries;
  // progress is then told of every row (i from 1 to the count of rows) and
  // `written` gets that count. False, with the reason in Error(), when a row
  // could not be built or stored, the search did not give its entries, or
  // the rows could not be published.
  bool Finish(const TRowProgress& progress = nullptr, int* written = nullptr);
  // Rows stored per transaction (TStagedExportTable::SetBatchRows), before
  // the search: larger batches for a private working store.
  void SetBatchRows(std::size_t rows);
  // Before the search: `tap` (not owned, outliving the search) is told of
  // every row stored and of every restart.
  void SetRowTap(TRowTap* tap);
  // The columns of the run's rows as stored ("oid" first).
  const std::vector<std::string>& StoredColumns() const;
  // Why Finish failed (names the working store and the engine's reason).
  const std::string& Error() const;
  // After a Finish that succeeded: the name of this run's rows for
  // OpenExportRows and OpenShownRows (its own table's with keepOwnRows, which
  // they find wherever it is then; else "export").
  std::string RowsTable() const;
  // For a reader on another connection and thread while the search runs:
  // the table the run's values are being stored in (empty when the stream
  // could not make its table), and a count of the times the search has
  // started over so far (each start empties it), which outlives the stream.
  std::string StagedValuesTable() const;
  std::shared_ptr<const std::atomic<unsigned>> Restarts() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

// Opens d.run on the rows of `table` (the published `export`, or a run's own
// table, see TExportRowStream::RowsTable, found wherever it is now and
// followed from then on) in "oid" order, read in place: the
// results grid and the reports read them from the working table as they
// need them, so that no run's rows are all held in memory. False (with the
// reason in `error`) when the statement failed.
bool OpenExportRows(Tdata& d, std::string* error = nullptr, const std::string& table = "export");

// Opens d.run on the rows as `shown` describes them (sqlstore/rowquery.h:
// its columns, filter and order over a run's table), read in place; the
// query is resolved against the working store first. False (with the
// reason in `error`: an unknown column, the engine's message) when it
// could not be opened.
bool OpenShownRows(Tdata& d, TRowQuery shown, std::string* error = nullptr);

// The columns of the table a run of `att` makes: "oid", then one per piece.
std::vector<std::string> RunColumns(const std::string& att);

}  // namespace quorvel
