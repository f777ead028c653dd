// The part of a profile run that turns a search result into the rows of the
// working table `export` and opens them for display or export. The windowed
// program and the headless runner both go through it, so their rows (and
// therefore their reports) are the same.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "ldap/results.h"
#include "ldap/session.h"
#include "store/data.h"

namespace quorvel {

// The statement whose rows the results grid shows and the reports are made of.
inline constexpr const char* kExportRowsQuery = "SELECT * FROM export ORDER BY oid ASC";

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

// Stores a run's rows while its search is still arriving, so that storing
// overlaps the wait for the server instead of following it. Made before the
// search and attached to its session, it writes each entry's row into a
// staged table as the entry arrives (an entry with values in ranges waits for
// them, see ldap/valueranges.h; a search read again in pages starts over).
// Finish then leaves exactly what FillExportTable would for the final
// results: it publishes the staged table when the rows stored are those
// results, and otherwise stores them anew from the results. A row that could
// not be stored fails the run (Finish false, the reason in Error()). A stream
// dropped without Finish (a failed search) drops its staged table: `export`
// keeps the last run's rows.
//
// The staged table is this run's own (other programs on the same working
// store stage and publish theirs meanwhile). With keepOwnRows, Finish
// publishes a copy as `export` and the run's own table stays until the
// stream is destroyed: RowsQuery() reads exactly this run's rows even when
// another program has published `export` since (the window's grid). Without
// it the table itself becomes `export` (the headless runner's private store).
//
//   TExportRowStream stream(d, profile.att, profile.readable);
//   stream.Attach(*ldap);
//   results = SearchProfile(ldap, profile);
//   if (results) stream.Finish(*results, progress);
class TExportRowStream {
 public:
  // Rows as FillExportTable writes them for att and readable.
  TExportRowStream(Tdata& d, const std::string& att, bool readable = false,
                   bool keepOwnRows = false);
  ~TExportRowStream();
  TExportRowStream(const TExportRowStream&) = delete;
  TExportRowStream& operator=(const TExportRowStream&) = delete;

  // Rows are stored from the entries this session's searches receive from now
  // on (replacing its OnSearchEntryReceived). The stream may end before the
  // session: what it leaves there then does nothing.
  void Attach(TLDAPSend& session);
  // FillExportTable's contract for `results`; progress is told of every row.
  bool Finish(const TLDAPResultList& results, const TRowProgress& progress = nullptr,
              int* written = nullptr);
  // Why Finish failed (names the working store and the engine's reason).
  const std::string& Error() const;
  // After a Finish that succeeded: the statement that reads this run's rows
  // in "oid" order (kExportRowsQuery without keepOwnRows).
  std::string RowsQuery() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

// Opens d.run on the export rows in "oid" order. False (with the reason in
// `error`) when the statement failed.
bool OpenExportRows(Tdata& d, std::string* error = nullptr);

}  // namespace quorvel
