// Change reports: what changed in the directory since a profile's last
// complete run.
//
// The history file (history.db beside the catalogue, owner-only) keeps one
// snapshot per profile: the search it answers (server, base DN, scope,
// filter, attribute list) with the time, and the exact values of the
// profile's last complete run (sqlstore/entryvalues.h) in a table of its own,
// copied in key order when the run is kept. Entries are matched by their
// identity: the value of the first of objectGUID, entryUUID, nsUniqueId and
// ipaUniqueID the profile asks for, else the DN (an entry without the
// identity value is matched by its DN). Comparing is the working store's
// work, with the history file attached: the snapshot's entries are sorted by
// identity into a temporary table once, the run's entries are read in their
// order, each finds its partner there and the two entries' values are
// compared (as sets per attribute); the change rows wait in a temporary
// table and come out sorted. Limits: one entry of each run is held in
// memory at a time; the temporary tables spill to disk as the engine does.
//
// The change rows go in a table laid out as a run's table, with the columns
// change, dn, attribute, old, new (kChangeColumns), in the order of dn, then
// the attribute in the profile's order, then the value:
//  - "added": an entry that was not there: a row per value of each requested
//    attribute (new), or one row with an empty attribute when it has none;
//  - "removed": an entry gone: the same with old, under its old DN;
//  - "renamed": the same identity under another DN: a row with attribute
//    "dn", old and new the two DNs, then its other changes under the new DN;
//  - "changed": an attribute whose values differ: one row with old and new
//    when both runs have exactly one value, otherwise a row per value removed
//    (old) and per value added (new).
// Values compare as bytes and are shown as the grid shows them (ValueCellText
// in store/rows.h: readable forms as the profile says, binary as Base64).
// The table is read in place by its dn column (ties in the order written).
//
// How it fails: every call returns false with the reason in `error` (the
// history file cannot be made or read, an engine error such as a full disk);
// nothing raises. Keep replaces a snapshot in two steps: Prepare copies the
// run into a table of its own in the history file, beside the profile's
// snapshot, which it leaves as it was; Replace then makes the copy the
// snapshot in one short transaction. A failure or a stop at any point leaves
// the previous snapshot whole. A copy is written into pages that hold nothing
// (free pages, or new ones at the end of the file), so the engine has none of
// them to save first in its journal; the price is a file that holds two
// snapshots' pages while a profile is replaced. The history file keeps a
// rollback journal whatever the working store's journal mode.
//
//   THistory history(d.temp);
//   if (!history.Open(HistoryFile(catalogue), error)) fail(error);
//   TChangeOutcome out;
//   if (!CompareRun(history, id, facts, complete, "export", columns, "changes", out, error)) ...
//   if (out.keep) history.Keep(id, facts, "export", error);
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sqlstore/database.h"
#include "store/rows.h"

namespace quorvel {

// The columns of a change report, in order; "dn" is its key column.
extern const std::vector<std::string> kChangeColumns;

// The search a snapshot answers, and when it was taken.
struct TSnapshotFacts {
  std::string server, basedn;
  int scope = 0;
  std::string filter, att;
  std::string taken;  // UTC, "YYYY-MM-DD HH:MM:SS UTC"
  // Whether `other` asks the same search (the time aside).
  bool Same(const TSnapshotFacts& other) const;
};

// Entries counted by what happened to them, and the rows written.
struct TChangeCounts {
  long long added = 0, removed = 0, renamed = 0, changed = 0;
  long long rows = 0;
  bool Any() const { return rows > 0; }
  // "N entries added, N removed, N renamed, N changed"
  std::string Text() const;
};

// The history file beside `catalogue`.
std::string HistoryFile(const std::string& catalogue);
// The column (1 for the first requested attribute) whose value is an entry's
// identity, 0 for the DN.
int IdentityColumn(const std::vector<TRequestedColumn>& columns);
// The time now, as snapshots record it.
std::string SnapshotTime();
// Makes `table` anew, empty, with the change report's columns.
bool CreateChangeTable(TASQLite3DB& db, const std::string& table, std::string& error);

class THistory;

// Drops the snapshots of the profiles in the history file `file`, when
// there is one (nothing is made otherwise).
bool ForgetSnapshots(TASQLite3DB& working, const std::string& file,
                     const std::vector<int>& profiles, std::string& error);

// What a run with a comparison found, for both programs to tell and act on.
struct TChangeOutcome {
  bool compared = false;  // the change rows are those against the snapshot
  bool keep = false;      // the run is complete: it becomes the snapshot
  std::optional<TSnapshotFacts> snapshot;
  TChangeCounts counts;
  std::string line;  // the line that says what was compared, or why nothing was
};

// The comparison of a run with the profile's snapshot, decided in one place:
// a complete run is compared when the snapshot asks the same search; the
// change rows go in `changesTable` (empty when nothing was compared).
bool CompareRun(THistory& history, int profile, const TSnapshotFacts& now, bool complete,
                const std::string& rowsTable, const std::vector<TRequestedColumn>& columns,
                const std::string& changesTable, TChangeOutcome& out, std::string& error);

class THistory {
 public:
  explicit THistory(TASQLite3DB& working) : working_(working) {}
  ~THistory();
  THistory(const THistory&) = delete;
  THistory& operator=(const THistory&) = delete;
  TASQLite3DB& Working() { return working_; }

  // Makes the file when absent (owner-only) and attaches it as "history".
  bool Open(const std::string& file, std::string& error);
  // The profile's snapshot, or none in `out`.
  bool Snapshot(int profile, std::optional<TSnapshotFacts>& out, std::string& error);
  // Writes the change rows of the run in `rowsTable` (a run's table by the
  // name TExportRowStream::RowsTable gives, found wherever it is now, its
  // values beside it) against the profile's snapshot into `changesTable`,
  // made anew.
  bool Compare(int profile, const std::string& rowsTable,
               const std::vector<TRequestedColumn>& columns, const std::string& changesTable,
               TChangeCounts& counts, std::string& error);
  // Drops the profile's snapshot (a deleted profile's values are not kept).
  bool Forget(int profile, std::string& error);
  // Makes the run in `rowsTable` the profile's snapshot: Prepare, then
  // Replace.
  bool Keep(int profile, const TSnapshotFacts& facts, const std::string& rowsTable,
            std::string& error);
  // Copies the values of the run in `rowsTable` into a new table of the
  // history file, in a transaction of its own; the profile's snapshot is not
  // touched. Copies of the profile left by a run that stopped before its
  // Replace, or made by another run of the profile meanwhile, are dropped
  // first: of two runs of one profile at once, the one that prepared last is
  // kept and the other's Replace fails.
  bool Prepare(int profile, const std::string& rowsTable, std::string& error);
  // Prepare in steps, for a run that is still storing its rows. PrepareStart
  // makes the profile's copy, empty, as Prepare does. Each PrepareMore then
  // copies, in a transaction of its own, the values in `valuesTable` (the
  // run's values as named now) stored since the step before, or all of them
  // again when `anew` (the run started over). Only the history file is
  // written, so the run goes on storing meanwhile from another connection.
  // Replace then as after Prepare.
  bool PrepareStart(int profile, std::string& error);
  bool PrepareMore(const std::string& valuesTable, bool anew, std::string& error);
  // Makes the copy Prepare made the profile's snapshot, taken as `facts`
  // say, dropping the one before, in one transaction.
  bool Replace(int profile, const TSnapshotFacts& facts, std::string& error);

 private:
  // `packed`: the snapshot's table holds a packed row per entry (false: one
  // row per value, the earlier layout).
  void Stage(int profile, int identity, bool packed);
  void Walk(const std::string& values, int profile, int identity, std::size_t columns,
            bool packedSnapshot, TChangeCounts& counts);
  void WriteChangeRows(const std::vector<TRequestedColumn>& columns,
                       const std::string& changesTable, TChangeCounts& counts);
  bool HasSnapshotTable(int profile);
  bool HasEarlierLayout(int profile);
  void DropStage();
  void DropPrepared();

  TASQLite3DB& working_;
  bool attached_ = false;
  int preparedProfile_ = 0;
  std::string prepared_;    // the copy Prepare made, until Replace (unquoted)
  int64_t copiedUpTo_ = 0;  // the last entry PrepareMore copied
};

}  // namespace quorvel
