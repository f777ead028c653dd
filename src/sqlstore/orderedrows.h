// Rows of a run's table read in place in the order and with the filter of a
// TRowQuery (rowquery.h). Private to the storage layer; a query asks for it
// with TASQLite3Query::SetRowQuery.
//
// What it does:
//  - Open makes the index for the query's order when the table has none
//    (a store that cannot take it only reads slower), fills the dataset's
//    fields from the query's select, exactly as the whole read would, and
//    counts the rows once.
//  - Cell(row, col) reads rows in windows of 256 (by position in the
//    query's order) and keeps the last four, so memory stays a few windows
//    whatever the row count.
//  - Between BeginWalk and EndWalk (an export: every row once, in order)
//    the windows come from one read of the whole select instead.
//
// How it fails: Open raises like the whole read when a statement cannot be
// prepared. Cell never raises: a window that cannot be read (the engine's
// error, a table dropped since Open, fewer rows than counted) gives empty
// cells, and Error() keeps the first reason until the dataset is closed.
// A table renamed since Open is read on under its new name; one replaced
// (sqlstore/tableidentity.h) fails every later read, as inplace.h says.
// A view returned by Cell lasts until a later Cell reads another window.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "sqlstore/dataset.h"
#include "sqlstore/queryrows.h"
#include "sqlstore/rowquery.h"
#include "sqlstore/tableidentity.h"

namespace quorvel {

class TOrderedRows {
 public:
  static constexpr int kWindowRows = 256;
  static constexpr int kWindows = 4;

  static std::unique_ptr<TOrderedRows> Open(TASQLite3DB& db, const TRowQuery& query,
                                            TASQLite3BaseQuery& dataset);
  ~TOrderedRows();
  TOrderedRows(const TOrderedRows&) = delete;
  TOrderedRows& operator=(const TOrderedRows&) = delete;

  int Count() const { return count_; }
  void BeginWalk();
  void EndWalk();
  std::string_view Cell(int row, int col);
  int64_t RowId(int row);
  const std::string& Error() const { return error_; }

 private:
  struct Statement {
    const EngineApi* api = nullptr;
    void* stmt = nullptr;
    ~Statement();
  };
  struct Window {
    int start = -1;
    TFResult rows;
    uint64_t used = 0;
  };

  TOrderedRows(TASQLite3DB& db, TASQLite3BaseQuery& dataset)
      : db_(db), dataset_(dataset), identity_(db) {}
  // Follows the table when it was renamed; raises once it was replaced.
  void CheckTable();
  void Prepare(Statement& s, const std::string& text);
  void BindFilter(void* stmt);
  Window* Fetch(int row);
  void Fill(Window& w, void* stmt, int start);
  // One read of the window at `start`: the walk's next, else by position.
  void ReadWindow(Window& w, int start);

  TASQLite3DB& db_;
  TASQLite3BaseQuery& dataset_;
  const EngineApi* api_ = nullptr;
  std::optional<std::string> parameter_;
  TColumnMap map_;
  int count_ = 0;
  Statement window_, walk_;
  bool walking_ = false;
  int walkNext_ = 0;  // the row walk_ gives next
  Window windows_[kWindows];
  uint64_t clock_ = 0;
  TRowScratch scratch_;
  std::string error_;
  TRowQuery query_;
  TTableIdentity identity_;  // which table is read, whatever its name
  bool identified_ = false;
  std::string replaced_;  // why every read fails, once the table was replaced
};

}  // namespace quorvel
