#include "sqlstore/entryvalues.h"

#include <vector>

namespace quorvel {
namespace {

std::string Quoted(const std::string& name) {
  std::string q = "\"";
  for (char c : name) {
    q += c;
    if (c == '"') q += '"';
  }
  return q + "\"";
}

bool TableExists(TASQLite3DB& db, const std::string& name) {
  PreparedStatement probe(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?");
  probe.BindText(1, name);
  const bool found = probe.Step();
  if (found) probe.Reset();
  return found;
}

}  // namespace

void TEntryValues::Reset(std::size_t columns) {
  DN.clear();
  DNColumn = 0;
  if (Columns.size() != columns) Columns.resize(columns);
  for (TEntryAttribute& a : Columns) {
    a.Name.clear();
    a.Values.clear();
  }
}

std::string EntryValuesTable(const std::string& rowsTable) {
  return rowsTable + "_values";
}

std::vector<std::string> TableColumnNames(TASQLite3DB& db, const std::string& table) {
  std::vector<std::string> names;
  PreparedStatement q(db, "SELECT name FROM pragma_table_info(?) ORDER BY cid");
  q.BindText(1, table);
  while (q.Step()) names.emplace_back(q.ColumnBytes(0));
  return names;
}

void CreateEntryValuesTable(TASQLite3DB& db, const std::string& name) {
  db.ExecDirect("CREATE TABLE " + Quoted(name) +
                " (entry INTEGER NOT NULL, col INTEGER NOT NULL, position INTEGER NOT NULL, "
                "name TEXT NOT NULL, value BLOB NOT NULL, PRIMARY KEY (entry, col, position)) "
                "WITHOUT ROWID");
}

TEntryValueWriter::TEntryValueWriter(TASQLite3DB& db, const std::string& table)
    : insert_(std::make_unique<PreparedStatement>(
          db, "INSERT INTO " + Quoted(table) +
                  " (entry, col, position, name, value) VALUES (?, ?, ?, ?, ?)")) {}

TEntryValueWriter::~TEntryValueWriter() = default;

void TEntryValueWriter::Add(int64_t entry, const TEntryValues& values) {
  auto one = [&](int64_t col, int64_t position, std::string_view name, std::string_view bytes) {
    insert_->BindInt64(1, entry);
    insert_->BindInt64(2, col);
    insert_->BindInt64(3, position);
    insert_->BindText(4, name);
    insert_->BindBlob(5, bytes);
    insert_->Run();
  };
  one(0, 0, "dn", values.DN);
  for (std::size_t c = 1; c < values.Columns.size(); ++c) {
    const TEntryAttribute& a = values.Columns[c];
    for (std::size_t p = 0; p < a.Values.size(); ++p)
      one(static_cast<int64_t>(c), static_cast<int64_t>(p), a.Name, a.Values[p]);
  }
}

TEntryValueReader::TEntryValueReader(TASQLite3DB& db, const std::string& rowsTable) {
  const std::string table = EntryValuesTable(rowsTable);
  if (!TableExists(db, table)) return;
  select_ =
      std::make_unique<PreparedStatement>(db, "SELECT col, name, value FROM " + Quoted(table) +
                                                  " WHERE entry = ? ORDER BY col, position");
}

TEntryValueReader::~TEntryValueReader() = default;

void TEntryValueReader::Read(int64_t entry, std::size_t columns, TEntryValues& out) {
  out.Reset(columns);
  if (!select_) return;
  select_->BindInt64(1, entry);
  while (select_->Step()) {
    const int64_t col = select_->ColumnInt64(0);
    const std::string_view bytes = select_->ColumnBytes(2);
    if (col == 0) {
      out.DN.assign(bytes);
      continue;
    }
    if (col < 0 || static_cast<std::size_t>(col) >= columns) continue;
    TEntryAttribute& a = out.Columns[static_cast<std::size_t>(col)];
    if (a.Values.empty()) a.Name.assign(select_->ColumnBytes(1));
    a.Values.emplace_back(bytes);
  }
}

}  // namespace quorvel
