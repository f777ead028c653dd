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

// Called before each entry is written: i counts from 1 to n.
using TRowProgress = std::function<void(int i, int n)>;

// Re-creates `export` with "oid" and one column per piece of att, then writes one
// row per entry in the order received, its values in their readable forms when
// `readable` is set (store/rows.h). False when the table could not be made
// (nothing is written then). A row whose insert fails is left out; the count of
// rows written is returned through `written` when given.
bool FillExportTable(Tdata& d, const TLDAPResultList& results, const std::string& att,
                     const TRowProgress& progress = nullptr, int* written = nullptr,
                     bool readable = false);

// Stores a run's rows while its search is still arriving, so that storing
// overlaps the wait for the server instead of following it. Made before the
// search and attached to its session, it writes each entry's row into a
// staged table as the entry arrives (an entry with values in ranges waits for
// them, see ldap/valueranges.h; a search read again in pages starts over).
// Finish then leaves exactly what FillExportTable would for the final
// results: it publishes the staged table when the rows stored are those
// results, and otherwise falls back to FillExportTable itself. A stream
// dropped without Finish (a failed search) drops its staged table: `export`
// keeps the last run's rows.
//
//   TExportRowStream stream(d, profile.att, profile.readable);
//   stream.Attach(*ldap);
//   results = SearchProfile(ldap, profile);
//   if (results) stream.Finish(*results, progress);
class TExportRowStream {
 public:
  // Rows as FillExportTable writes them for att and readable.
  TExportRowStream(Tdata& d, const std::string& att, bool readable = false);
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

 private:
  struct State;
  std::shared_ptr<State> state_;
};

// Opens d.run on the export rows in "oid" order (SELECT * FROM "export"
// ORDER BY "oid" ASC), read in place: the results grid and the reports read
// them from the working table as they need them, so that no run's rows are
// all held in memory. False (with the reason in `error`) when the statement
// failed.
bool OpenExportRows(Tdata& d, std::string* error = nullptr);

}  // namespace quorvel
