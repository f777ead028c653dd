// The values of a run's entries kept exactly as received, in a table beside
// the run's rows: what the grid cells cannot hold (a value holding "][", the
// spaces at a value's ends, the bytes of a value shown in a readable form)
// and what the formats that give the values back need (LDIF (RFC 2849), JSON
// Lines). One place knows the table's layout; the run writes it, the export
// walk reads it.
//
// The table of the rows table R is named R + "_values" and holds one row per
// entry: the entry (the rowid of the entry's row in R) as its key, and every
// value of the entry packed into one blob, so that storing an entry is one
// insert and reading it one seek. The blob is, for the DN (column 0, named
// "dn") and then each requested attribute the entry has, in column order:
// the column, the length of the attribute's name as the directory sent it,
// the name, the number of values, and each value as its length and its
// bytes. A name that is the rows table's own name of the column, as the
// profile asked for it, is left out (length 0), and so is the DN's: most
// entries then carry no names at all (numbers as unsigned base-128 varints, low group first, the
// high bit set on every byte but the last). An attribute the entry lacks is left out. Tables of the
// earlier layout, one row per value (entry, col, position, name, value), are still read.
//
// What each call does and how it fails (every call raises like the storage
// layer, AsgError or EDatabaseError, on an engine error):
//  - EntryValuesTable(rows) names the table of a rows table.
//  - CreateEntryValuesTable(db, name) makes the empty table.
//  - PackEntryValues / UnpackEntryValues turn an entry's values into the
//    blob and back, given the rows table's column names (`names`, index k
//    for column k; none: every name written, and a name left out reads as
//    empty); a blob that is not one (cut short, a length past its end,
//    columns out of order) unpacks to false, with what came before.
//  - RegisterEntryValueFunctions makes kEntryValueFunction(packed, col)
//    known to one engine connection: the first value of column `col` of a
//    packed blob (col 0 the DN), NULL when the entry has none or the blob is
//    not one. The connection (database.cpp) calls it on every connect.
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
// Limits: the values of one entry together are at most the engine's limit
// on one value (1,000,000,000 bytes by default); an entry past it fails
// its Add with the engine's "too big"; the reader keeps one entry's values.
//
//   TEntryValueReader values(db, "export");
//   SELECT quorvel_entry_value(packed, 0) FROM "export_values"   -- the DNs
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

struct EngineApi;
inline constexpr const char* kEntryValueFunction = "quorvel_entry_value";

std::string EntryValuesTable(const std::string& rowsTable);
// Builds a blob piece by piece, straight from where the values are: the DN
// first, then each attribute the entry has in column order, each followed
// by its values (as many as Attribute announced).
class TEntryValuePacker {
 public:
  // Appends to `out`; `names` as for PackEntryValues, kept by reference.
  TEntryValuePacker(std::string& out, const std::vector<std::string>* names)
      : out_(out), names_(names) {}
  void DN(std::string_view dn);
  void Attribute(std::size_t column, std::string_view name, std::size_t values);
  void Value(std::string_view bytes);

 private:
  std::string& out_;
  const std::vector<std::string>* names_;
};

// Appends the blob of `values` (DN and every column) to `out`.
void PackEntryValues(const TEntryValues& values, std::string& out,
                     const std::vector<std::string>* names = nullptr);
// Fills `out` from a blob; `columns` as for TEntryValueReader::Read.
bool UnpackEntryValues(std::string_view packed, std::size_t columns, TEntryValues& out,
                       const std::vector<std::string>* names = nullptr);
// True when the registration succeeded.
bool RegisterEntryValueFunctions(const EngineApi& api, void* handle);
// The column names of a table, in the table's order.
std::vector<std::string> TableColumnNames(TASQLite3DB& db, const std::string& table);
void CreateEntryValuesTable(TASQLite3DB& db, const std::string& name);

class TEntryValueWriter {
 public:
  TEntryValueWriter(TASQLite3DB& db, const std::string& table);
  ~TEntryValueWriter();
  // Stores the DN (column 0) and every value of every column of `values`.
  void Add(int64_t entry, const TEntryValues& values);
  // Stores an entry's blob made already (TEntryValuePacker).
  void AddPacked(int64_t entry, std::string_view packed);

 private:
  std::unique_ptr<PreparedStatement> insert_;
  std::string packed_;  // reused from entry to entry
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
  bool packed_ = true;              // false for a table of the earlier layout
  std::vector<std::string> names_;  // the rows table's column names
};

}  // namespace quorvel
