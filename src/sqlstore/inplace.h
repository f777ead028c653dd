// Rows of one table read in place, in the order of one of its columns, for
// a dataset whose result may be far larger than memory should hold (the
// working table of a run: a million rows and more). Private to the storage
// layer; a query asks for it with TASQLite3Query::SetInPlaceSQL.
//
// What it does:
//  - Open prepares the dataset's fields from the dataset's own statement
//    ("SELECT * FROM <table> ORDER BY <key> ASC"), exactly as the whole read
//    would, makes sure an index orders the table by the key (creating one
//    when none does), and walks that index once to count the rows and note
//    the key of every 4096th row.
//  - Cell(row, col) reads rows in windows of 256, each by the key of the row
//    before it (the last row of the window before, or the noted key nearest
//    below), and keeps the last four windows. Ties of the key come in rowid
//    order, which is also the order the whole read gives them in.
//    Memory therefore stays a few windows whatever the row count; reading
//    the rows in order, or the rows a grid shows, touches each row once.
//
// How it fails:
//  - Open raises like the whole read when the statement cannot be prepared
//    or a column's type is not supported. It returns nullptr, for the caller
//    to read the rows whole, when the table cannot be read this way: a
//    WITHOUT ROWID table or a view, every rowid alias taken by a column, a
//    key that is NULL or a floating-point number in some row, or no ordering
//    index (the store is read-only or locked).
//  - Cell never raises: a window that cannot be read (the engine's error, a
//    table dropped or re-created since Open, fewer rows than counted) gives
//    empty cells, and Error() keeps the first reason until the dataset is
//    closed, so that whoever walks the rows can tell a failed read from an
//    empty cell.
//  - A view returned by Cell stays valid until a later Cell reads a window
//    that evicts the one it points into: copy it before reading another row.
//
//   auto rows = TInPlaceRows::Open(db, "export", "oid", dataset, statement);
//   if (rows) for (int r = 0; r < rows->Count(); ++r) use(rows->Cell(r, 0));
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sqlstore/dataset.h"
#include "sqlstore/queryrows.h"

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

  TInPlaceRows(TASQLite3DB& db, TASQLite3BaseQuery& dataset) : db_(db), dataset_(dataset) {}
  bool Prepare(const std::string& table, const std::string& key);
  bool EnsureIndex(const std::string& table, const std::string& key);
  void Prepare(Statement& s, const std::string& text);
  Key ReadKey(void* stmt, int keyColumn, int rowidColumn) const;
  // Whether a key of this engine type can be bound back and compared.
  static bool KeyTypeUsable(int type);
  void BindKey(void* stmt, int first, const Key& key);
  // The table's schema entry, to tell whether the table was replaced.
  std::string SchemaEntry();
  void CheckSchema();
  Window& Fetch(int row);
  Window* Find(int row);

  TASQLite3DB& db_;
  TASQLite3BaseQuery& dataset_;
  const EngineApi* api_ = nullptr;
  std::string table_;
  TColumnMap map_;
  int keyColumn_ = -1;  // of the table's columns
  int count_ = 0;
  std::vector<Key> anchors_;  // anchors_[j]: key of row (j + 1) * kAnchorRows - 1
  Statement head_, after_, cookie_, schema_;
  int64_t schemaVersion_ = 0;
  std::string schemaEntry_;
  Window windows_[kWindows];
  uint64_t clock_ = 0;
  TRowScratch scratch_;
  std::string error_;
};

}  // namespace quorvel
