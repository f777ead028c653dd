// How a prepared statement's result columns become a dataset's fields and
// how one of its rows becomes a row of a TFResult. Private to the storage
// layer: the whole-result read (TASQLite3DB::ExecuteQuery) and the rows read
// in place (inplace.h) share these two functions, so both give every field
// the same name, type and size and every cell the same text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sqlstore/dataset.h"
#include "sqlstore/engine.h"

namespace quorvel {

// Column and table names compared as the engine compares them: ASCII letters
// in either case.
bool SameText(std::string_view a, std::string_view b);

// Where each result column goes.
struct TColumnMap {
  std::vector<int> fieldOfColumn;  // field index of each column; -1 for the "rowid" column
  int rowidColumn = -1;            // the column named "rowid" (any case), -1 when none
};

// Rebuilds the dataset's fields from the statement's columns: names made
// unique (name_1, name_2, ...), types and sizes from the declared types, a
// column named "rowid" kept as the row id. A statement without result
// columns leaves the fields alone. Raises AsgError for an unsupported type.
TColumnMap DescribeColumns(const EngineApi& api, void* stmt, TASQLite3BaseQuery& dataset);

// Per-row work space of AppendRow, kept across rows to spare allocations.
struct TRowScratch {
  std::vector<std::string_view> cells;
  std::vector<std::string> texts;
};

// Appends the statement's current row (after a step that gave a row) to
// `result`, whose columns are the dataset's fields. The row id is the
// "rowid" column's value, or `position` when there is none. Raises AsgError
// for a text that a boolean field cannot take.
void AppendRow(const EngineApi& api, void* stmt, const TColumnMap& map,
               const TASQLite3BaseQuery& dataset, int64_t position, TRowScratch& scratch,
               TFResult& result);

}  // namespace quorvel
