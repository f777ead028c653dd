// The rows of a run's table as they are shown: which columns, which rows and
// in what order, as one value that builds every statement needed to read
// them. The results grid, the export walk of the windowed program and
// quorvel-report all read through it, so a report holds exactly the rows the
// grid shows, in the grid's order.
//
// What it holds:
//  - Table: the run's table (the name the working store gives it), and Key,
//    the column of the run's own order (the DN column, "oid").
//  - Columns: the result columns in order; empty for every column of the
//    table in the table's order (the layout of today's grid and reports).
//  - Order: sort keys, first first. A key compares its column's values by
//    the text collation (collation.h, the user's locale without regard to
//    case), or as integers when Numeric is set (Resolve sets it for a column
//    whose every non-empty value is an integer). Empty cells come after every
//    value in both directions, and rows that tie on every key keep the run's
//    order (Key, then the order of storing). No key: the run's order.
//  - Filter: the rows kept are those in which at least one of FilterColumns
//    (empty: every column of the table) contains the text, case folded as
//    the collation folds it. Empty: every row.
//
// What it builds: Select() (the result columns, then the rowid, in order),
// Count() (how many rows Select gives), the parameter both bind (the folded
// filter text as ?1, when there is a filter), and IndexStatement() (an index
// that gives the order without sorting, made when a sort is asked for).
// Names are quoted in every statement, so any column name is safe; the
// filter text is only ever bound.
//
// How it fails: Resolve returns the first column named that the table does
// not have ("unknown column 'x'") and reads the table to set Numeric;
// everything else is text building and never fails. The statements need the
// collation and the fold function, which every connection of this layer
// registers.
//
//   TRowQuery q("export");
//   q.Order = {{"sn"}, {"oid", true}};
//   q.Filter = "sales";
//   if (auto error = q.Resolve(db)) ...;
//   query.SetRowQuery(q);  // dataset.h: read in place, in this order
#pragma once

#include <optional>
#include <string>
#include <vector>

class TASQLite3DB;

namespace quorvel {

struct TSortKey {
  std::string Column;
  bool Descending = false;
  bool Numeric = false;  // set by Resolve
};

class TRowQuery {
 public:
  TRowQuery() = default;
  explicit TRowQuery(std::string table, std::string key = "oid")
      : Table(std::move(table)), Key(std::move(key)) {}

  std::string Table;
  std::string Key = "oid";
  std::vector<std::string> Columns;
  std::vector<TSortKey> Order;
  std::string Filter;
  std::vector<std::string> FilterColumns;

  // No columns chosen, no order and no filter: the table as it is, in the
  // run's order.
  bool Plain() const { return Columns.empty() && Order.empty() && Filter.empty(); }

  // Checks every column named against the table's columns (names compared
  // as the engine compares them; the table's spelling is taken), fills an
  // empty FilterColumns with the table's columns when there is a filter, and
  // sets Numeric of each sort key. Returns the error, or nothing.
  std::optional<std::string> Resolve(TASQLite3DB& db);

  std::string Select() const;
  std::string Count() const;
  // The value of ?1, or nothing when no filter applies.
  std::optional<std::string> Parameter() const;
  // "CREATE INDEX IF NOT EXISTS ..." for the order, named after what it
  // indexes; empty without sort keys (the run's order has its own index).
  std::string IndexStatement() const;
  // The same for the table as `db` holds it now: should an index of that
  // name belong to another table (one renamed away from this name took its
  // indexes along), the statement names a new one. Raises like the storage
  // layer when the schema cannot be read.
  std::string IndexStatement(TASQLite3DB& db) const;

 private:
  std::string IndexName() const;
  std::string IndexStatementNamed(const std::string& name) const;
  std::string Where() const;
  std::string OrderBy() const;
  std::string IndexTerms() const;
};

// "name" with every double quote doubled: a name as a statement quotes it.
std::string QuoteName(const std::string& name);

}  // namespace quorvel
