// A run's rows on their way into the working table `export`.
//
// Several programs may share one working store (two windows on one program
// folder, each with its own connection): every run therefore stages its rows
// in a table of its own and only the finished, complete table becomes
// `export`. What each call does:
//
//  - Create(columns) makes a new, empty staged table with the layout of
//    `export` ("oid;cn;mail": every column quoted, all but the last
//    VARCHAR(1024)). Its name is unique to this run: "export_staged_k" and
//    eight hexadecimal digits, the run's owner key. While the table lives
//    its owner holds a lock on the byte of that key in the lock file beside
//    the store (the store's path + "-staged"), the same kind of file lock the
//    engine takes on the store itself, so it is seen from every process of
//    every process-ID namespace and, through the file system's lock
//    manager, from other machines sharing the folder; it goes with its owner
//    however the owner ends. No two live runs hold one key.
//    Before that, staged tables whose owner is known to have ended (the
//    lock file exists and nobody holds the byte of their key) are dropped, in
//    one transaction; every other table stays, whichever program made it:
//    tables of earlier versions named by a process id (which tells nothing
//    across machines or namespaces), tables of a run that could take no lock
//    ("export_staged_u...": an in-memory store, a folder without locking),
//    and names of any other form. A table of the old fixed name
//    "export_staged" is left over by definition and is dropped too.
//    A companion table of the same run (for instance values kept beside its
//    rows) is named Name() + "_" + a suffix: the same key covers it, so it is
//    kept while the run lives and cleaned up with the run's rows.
//  - Append(row) keeps the row in memory; every kBatchRows rows, or once
//    the pending rows reach kBatchBytes (and at Flush, Clear and Publish),
//    the pending rows are written in one short transaction of their own. No transaction stays open
//    between calls, so a run that waits on its server never holds the store's write lock and other
//    programs' runs go on meanwhile.
//  - Clear() removes every row staged so far (a search that starts over).
//  - Publish(how) writes what is pending, checks that the table holds
//    exactly the rows appended since Create or Clear, and, in one short
//    transaction, replaces `export` by them. Only psCopy writes the rows
//    again:
//     - psMove renames the staged table to `export` and lets it go (Name()
//       is empty afterwards): the headless runner's private store.
//     - psKeep renames it to `export` and keeps it this run's until Discard,
//       its owner lock held meanwhile. A later Publish of another run (in
//       this program or another) sets it aside under its staged name again
//       instead of dropping it, so that its owner goes on reading exactly
//       its own rows: RunRowsTable(Name()) finds them wherever they are,
//       and a reader in place follows them (sqlstore/tableidentity.h).
//       Discard then drops them, unless they are still `export`, which
//       keeps the last run's rows.
//     - psCopy fills a new `export` with a copy and keeps the staged table.
//    Whichever way, `export` is only ever the whole of one run's rows, and
//    an `export` that a live run keeps is set aside for it, never dropped.
//    After a psKeep the table takes no more rows (Append, Clear and Publish
//    fail).
//  - Discard() drops the staged table (the destructor does too).
//
// Beside its rows the staged table keeps every value exactly as received
// (sqlstore/entryvalues.h), in its companion table Name() + "_values": the
// values of a row given to Append go in the transaction that stores the row,
// Clear empties both, and Publish makes them `export_values` in the
// transaction that makes the rows `export` (and sets them aside with the
// rows), so `export` and `export_values` are always of one run. A row appended without values has
// none stored.
//
// Failures: a row that cannot be stored (a full disk, a file size limit, an
// engine error) fails the whole staging: the batch is rolled back, Failed()
// turns true, every later Append, Flush, Clear and Publish returns false and
// Error() keeps the first reason as "The rows could not be stored in the
// working store <file>: <engine's words>". Nothing of a failed staging is
// ever published: `export` keeps the last run's rows. A store that another
// program holds busy is waited for (the connection's BusyTimeout) rather than
// failed at once. Nothing here raises.
//
// Limits: up to kBatchRows rows (or as many as SetBatchRows says), or about
// kBatchBytes of rows and packed values and one row past them, are held in
// memory; the connection is used by one thread at a time (the caller's),
// which may change between calls.
//
//   TStagedExportTable stage(d.temp);
//   if (!stage.Create("oid;" + att)) fail(stage.Error());
//   for (each entry) if (!stage.Append(BuildExportRow(entry, names))) break;
//   if (!stage.Publish(TStagedExportTable::psKeep)) fail(stage.Error());
//   show("SELECT * FROM " + QuoteIdentifier(stage.Name()) + " ORDER BY oid ASC");
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sqlstore/database.h"
#include "sqlstore/entryvalues.h"

namespace quorvel {

class TStagedExportTable {
 public:
  enum TPublish { psMove, psCopy, psKeep };
  // Rows written per transaction, unless their values reach kBatchBytes
  // first: a batch of large values (photos, certificates) stays small.
  static constexpr size_t kBatchRows = 100;
  static constexpr size_t kBatchBytes = 4 << 20;
  // Rows per transaction from now on, in place of kBatchRows (at least 1):
  // a store that no other program shares takes larger batches, which write
  // the last pages of its tables once per batch rather than once per hundred
  // rows.
  void SetBatchRows(size_t rows) { batchRows_ = rows > 0 ? rows : 1; }

  // `working` is connected and outlives this object.
  explicit TStagedExportTable(TASQLite3DB& working);
  ~TStagedExportTable();
  TStagedExportTable(const TStagedExportTable&) = delete;
  TStagedExportTable& operator=(const TStagedExportTable&) = delete;

  // columns: "oid;" followed by the profile's attribute list. Discards a
  // table this object staged before.
  bool Create(const std::string& columns);
  bool Append(std::vector<std::string> values);
  // The row with the entry's exact values.
  bool Append(std::vector<std::string> values, TEntryValues exact);
  // The row with the entry's exact values packed already (TEntryValuePacker
  // with StoredNames(); empty: none). Both are copied into room kept from
  // the batches before, so that a run's rows cost no allocation each.
  bool AppendPacked(const std::vector<std::string>& values, std::string_view packed);
  // The staged table's column names ("oid" first), as the table holds them:
  // the reader of the values takes the names left out of them from there.
  const std::vector<std::string>& StoredNames() const { return columns_; }
  bool Flush();
  bool Clear();
  bool Publish(TPublish how);
  void Discard();
  // Fails the staging for a reason of the caller's (a row that could not even
  // be built), as a row that could not be stored does. Always false.
  bool Fail(const std::string& reason);

  // The staged table's name; empty before Create, after Discard and after
  // a psMove. After a psKeep it still names the run's rows to
  // RunRowsTable, wherever they are.
  const std::string& Name() const { return name_; }
  // Where the run's rows are now: Name(), or after a psKeep "export" until
  // another run publishes (then Name() again).
  std::string Location() const;
  // Rows appended since Create or Clear (written or pending).
  long long Rows() const { return written_ + static_cast<long long>(pendingRows_); }
  bool Failed() const { return failed_; }
  const std::string& Error() const { return error_; }

 private:
  void ClearPending();
  void EmptyBatch();
  // Locks a key no other run holds and gives the table name it makes.
  std::string TakeOwnerLock();
  void ReleaseOwnerLock();

  TASQLite3DB& working_;
  std::string name_;
  std::vector<std::string> columns_;
  // The batch waiting to be written: its first pendingRows_ rows, and beside
  // each its packed values; the slots past them keep their room for the next.
  std::vector<std::vector<std::string>> pending_;
  std::vector<std::string> pendingValues_;
  std::size_t pendingRows_ = 0;
  std::unique_ptr<PreparedStatement> insert_;
  std::unique_ptr<TEntryValueWriter> values_;
  std::size_t pendingBytes_ = 0;  // the bytes in pending_ and pendingValues_
  std::size_t batchRows_ = kBatchRows;
  long long written_ = 0;
  bool failed_ = false;
  std::string error_;
  int lockFd_ = -1;    // the owner lock of name_'s key, -1 when none
  std::string index_;  // the staged table's order index, which goes where it goes
  bool kept_ = false;  // published by psKeep, and still this run's
};

// The table that holds the rows of the staged table `name` now: `name`
// itself, or "export" while a run's psKeep has it published; any other name
// as it is. A table may be renamed right after it was found: a reader opens
// it, then asks again, and opens anew when the answer changed (tables only
// ever move from a staged name to `export` and back once, so two equal
// answers mean the reader has the table it asked for).
std::string RunRowsTable(TASQLite3DB& working, const std::string& name);

// Drops the staged tables of processes that have ended, as Create does; the
// number dropped. Errors (a store busy past the time-out) leave them for the
// next time.
int DropAbandonedStagedTables(TASQLite3DB& working);

}  // namespace quorvel
