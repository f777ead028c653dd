// Rows of one table read in place, in the order of one of its columns, for
// a dataset whose result may be far larger than memory should hold (the
// working table of a run: a million rows and more). Private to the storage
// layer; a query asks for it with TASQLite3Query::SetInPlaceSQL.
//
// What it does:
//  - Open prepares the dataset's fields from the dataset's own statement
//    ("SELECT * FROM <table> ORDER BY <key> ASC"), exactly as the whole read
//    would, and counts the rows once.
//  - Cell(row, col) reads rows in windows of 256 and keeps the last four
//    windows, so memory stays a few windows whatever the row count. A window
//    is read by the key of the row before it (the last row of the window
//    before, or a key noted every 4096 rows) through an index on the key,
//    which the first such read makes when the table has none. This is the
//    way of a grid that shows a few rows anywhere in the table.
//  - Between BeginWalk and EndWalk (an export: every row once, in order from
//    the first) the windows come instead from one read of the whole table in
//    order: through an index on the key that the table had when opened (kept
//    up while its rows went in, so nothing is left to sort), else sorted once
//    by the engine in bounded memory (spilling to temporary files), far
//    faster over a large table than seeking each row through an index made
//    only for it. The read holds the table open until the walk ends or
//    reaches the last row; rows read out of order meanwhile use the index as
//    above.
//  - Ties of the key come in rowid order both ways, which is also the order
//    the whole read gives them in.
//
// How it fails:
//  - Open raises like the whole read when the statement cannot be prepared
//    or a column's type is not supported. It returns nullptr, for the caller
//    to read the rows whole, when the table cannot be read this way: a
//    WITHOUT ROWID table or a view, every rowid alias taken by a column, or a
//    key that is NULL or a floating-point number in some row.
//  - An index that cannot be made (a read-only or locked store) only makes
//    reading out of order slower: each window then sorts the table anew.
//  - Cell never raises: a window that cannot be read (the engine's error, a
//    table dropped or re-created since Open, fewer rows than counted) gives
//    empty cells, and Error() keeps the first reason until the dataset is
//    closed, so that whoever walks the rows can tell a failed read from an
//    empty cell.
//  - A table renamed since Open (published, or set aside by another
//    program's publish) is found by its index under its new name and read on
//    there: the same rows, whatever its name.
//  - A table replaced since Open (dropped and made anew, or another renamed
//    over it) is told as sqlstore/tableidentity.h says, looked at whenever
//    the file's schema has changed: a table made anew may reuse the old
//    one's root page, but the program's writers give every table an index
//    of a name of its own. From then on every read fails the same way, rows
//    already held included, until the dataset is opened again.
//  - A view returned by Cell stays valid until a later Cell reads a window
//    that evicts the one it points into: copy it before reading another row.
//
//   auto rows = TInPlaceRows::Open(db, statement, "export", "oid", dataset);
//   if (!rows) ...read whole...
//   rows->BeginWalk();
//   for (int r = 0; r < rows->Count(); ++r) use(rows->Cell(r, 0));
//   rows->EndWalk();
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sqlstore/dataset.h"
#include "sqlstore/queryrows.h"
#include "sqlstore/tableidentity.h"

namespace quorvel {

class TInPlaceRows {
 public:
  static constexpr int kWindowRows = 256;
  static constexpr int kWindows = 4;
  static constexpr int kAnchorRows = 4096;

  // Fills the dataset's fields from `statement`, then prepares the reading
  // of `table` ordered by `key` (both names as written, unquoted).
  static std::unique_ptr<TInPlaceRows> Open(TASQLite3DB& db, const std::string& statement,
                                            const std::string& table, const std::string& key,
                                            TASQLite3BaseQuery& dataset);
  ~TInPlaceRows();
  TInPlaceRows(const TInPlaceRows&) = delete;
  TInPlaceRows& operator=(const TInPlaceRows&) = delete;

  int Count() const { return count_; }
  void BeginWalk();
  void EndWalk();
  // Row 0..Count()-1, column 0..FieldCount()-1; empty outside.
  std::string_view Cell(int row, int col);
  int64_t RowId(int row);
  // Why a read failed; empty while none has.
  const std::string& Error() const { return error_; }

 private:
  // A statement kept for the life of the reader.
  struct Statement {
    const EngineApi* api = nullptr;
    void* stmt = nullptr;
    ~Statement();
    void Finalize();
  };
  // A key value with the rowid that breaks its ties.
  struct Key {
    int type = 0;  // the engine's type code: integer, text or blob
    int64_t integer = 0;
    std::string bytes;
    int64_t rowid = 0;
  };
  struct Window {
    int start = -1;  // first row; -1 while unused
    TFResult rows;
    Key last;  // the key of its last row
    uint64_t used = 0;
  };

  TInPlaceRows(TASQLite3DB& db, TASQLite3BaseQuery& dataset)
      : db_(db), dataset_(dataset), identity_(db) {}
  bool Prepare(const std::string& table, const std::string& key);
  void Prepare(Statement& s, const std::string& text);
  // The index on the key and the statements that read through it, made at
  // the first read out of order; the noted keys at the first far jump.
  void PrepareSeeks();
  void NoteKeys();
  void EnsureIndex();
  Key ReadKey(void* stmt, int keyColumn, int rowidColumn) const;
  void BindKey(void* stmt, int first, const Key& key);
  void PrepareWalk();
  // Whether an index of the table starts with the key, in ascending order.
  bool KeyIndex();
  void CheckSchema();
  Window& Fetch(int row);
  Window& FetchOnce(int row);
  Window* Find(int row);
  Window& Target();
  // Steps `stmt` for the rows of a window starting at `start`.
  void Fill(Window& w, void* stmt, int start, int wanted);

  TASQLite3DB& db_;
  TASQLite3BaseQuery& dataset_;
  const EngineApi* api_ = nullptr;
  std::string table_, key_, rowid_;
  TColumnMap map_;
  int keyColumn_ = -1;  // of the table's columns
  int count_ = 0;
  bool seeks_ = false, noted_ = false;
  std::vector<Key> anchors_;  // anchors_[j]: key of row (j + 1) * kAnchorRows - 1
  Statement head_, after_, walk_;
  bool walking_ = false;     // between BeginWalk and EndWalk
  int walkNext_ = 0;         // the row walk_ gives next; 0 while walk_ is not running
  TTableIdentity identity_;  // which table is read, whatever its name
  std::string replaced_;     // why every read fails, once the table was replaced
  Window windows_[kWindows];
  uint64_t clock_ = 0;
  TRowScratch scratch_;
  std::string error_;
};

}  // namespace quorvel
