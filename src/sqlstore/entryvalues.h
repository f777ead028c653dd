// The values of a run's entries kept exactly as received, in a table beside
// the run's rows: what the grid cells cannot hold (a value holding "][", the
// spaces at a value's ends, the bytes of a value shown in a readable form)
// and what the formats that give the values back need (LDIF (RFC 2849), JSON
// Lines). One place knows the table's layout; the run writes it, the export
// walk reads it.
//
// The table of the rows table R is named R + "_values" and holds one row per
// value: the entry (the rowid of the entry's row in R), the column (0 the DN,
// k the k-th requested attribute, as the columns of R), the value's position
// within its attribute (from 0, in the order received), the attribute's name
// as the directory sent it, and the value's bytes. Its key is (entry, column,
// position), so the values of one entry are read in one seek, in order.
//
// What each call does and how it fails (every call raises like the storage
// layer, AsgError or EDatabaseError, on an engine error):
//  - EntryValuesTable(rows) names the table of a rows table.
//  - CreateEntryValuesTable(db, name) makes the empty table.
//  - TEntryValueWriter::Add stores the values of one entry; the caller runs
//    it inside the transaction that stores the entry's row, so both are
//    committed or neither.
//  - TEntryValueReader opens on the values table of a rows table; Exists()
//    is false when there is none (a table of rows that keeps no values, such
//    as an entry's property listing). Read(entry, out) fills `out` with the
//    entry's values: out.Columns[k] for column k, an absent attribute with no
//    name and no values. An entry without stored values gives an empty DN
//    and empty columns.
//
// Limits: a value is at most 2^31 - 1 bytes (the engine's limit is lower
// still, 1,000,000,000 by default); the reader keeps one entry's values.
//
//   TEntryValueReader values(db, "export");
//   if (values.Exists()) values.Read(dataset.RowId(row), entry);
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sqlstore/database.h"

namespace quorvel {

// One requested attribute of an entry: its name as received and its values.
struct TEntryAttribute {
  std::string Name;  // empty when the entry has no such attribute
  std::vector<std::string> Values;
};

// The exact values of one entry.
struct TEntryValues {
  std::string DN;
  // Index k for column k of the rows table; the DN's column stays empty.
  std::vector<TEntryAttribute> Columns;
  std::size_t DNColumn = 0;  // the DN's column (0 in the rows table)
  // Empties every column, keeping the storage for the next entry.
  void Reset(std::size_t columns);
};

std::string EntryValuesTable(const std::string& rowsTable);
// The column names of a table, in the table's order.
std::vector<std::string> TableColumnNames(TASQLite3DB& db, const std::string& table);
void CreateEntryValuesTable(TASQLite3DB& db, const std::string& name);

class TEntryValueWriter {
 public:
  TEntryValueWriter(TASQLite3DB& db, const std::string& table);
  ~TEntryValueWriter();
  // Stores the DN (column 0) and every value of every column of `values`.
  void Add(int64_t entry, const TEntryValues& values);

 private:
  std::unique_ptr<PreparedStatement> insert_;
};

class TEntryValueReader {
 public:
  TEntryValueReader(TASQLite3DB& db, const std::string& rowsTable);
  ~TEntryValueReader();
  TEntryValueReader(const TEntryValueReader&) = delete;
  TEntryValueReader& operator=(const TEntryValueReader&) = delete;
  bool Exists() const { return select_ != nullptr; }
  // `columns`: the column count of the rows table (the DN's included).
  void Read(int64_t entry, std::size_t columns, TEntryValues& out);

 private:
  std::unique_ptr<PreparedStatement> select_;
};

}  // namespace quorvel
