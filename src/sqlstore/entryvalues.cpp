#include "sqlstore/entryvalues.h"

#include <vector>

#include "sqlstore/engine.h"
#include "sqlstore/rowquery.h"

namespace quorvel {
namespace {

bool TableExists(TASQLite3DB& db, const std::string& name) {
  PreparedStatement probe(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?");
  probe.BindText(1, name);
  const bool found = probe.Step();
  if (found) probe.Reset();
  return found;
}

void PutNumber(uint64_t n, std::string& out) {
  while (n >= 0x80) {
    out += static_cast<char>((n & 0x7f) | 0x80);
    n >>= 7;
  }
  out += static_cast<char>(n);
}

void PutBytes(std::string_view bytes, std::string& out) {
  PutNumber(bytes.size(), out);
  out.append(bytes);
}

// Reads a packed blob from the front, every length checked against what is
// left.
class TPackedReader {
 public:
  explicit TPackedReader(std::string_view packed) : rest_(packed) {}
  bool AtEnd() const { return rest_.empty(); }
  bool Number(uint64_t& n) {
    n = 0;
    for (int shift = 0; shift < 64 && !rest_.empty(); shift += 7) {
      const auto byte = static_cast<unsigned char>(rest_.front());
      rest_.remove_prefix(1);
      n |= static_cast<uint64_t>(byte & 0x7f) << shift;
      if (!(byte & 0x80)) return true;
    }
    return false;
  }
  bool Bytes(std::string_view& out) {
    uint64_t n = 0;
    if (!Number(n) || n > rest_.size()) return false;
    out = rest_.substr(0, static_cast<std::size_t>(n));
    rest_.remove_prefix(static_cast<std::size_t>(n));
    return true;
  }
  // The head of the next attribute: its column, name and count of values.
  bool Head(uint64_t& col, std::string_view& name, uint64_t& count) {
    return Number(col) && Bytes(name) && Number(count) && count <= rest_.size();
  }

 private:
  std::string_view rest_;
};

// The first value of column `col` of a packed blob, if it has one.
bool FirstValue(std::string_view packed, uint64_t col, std::string_view& out) {
  TPackedReader r(packed);
  while (!r.AtEnd()) {
    uint64_t at = 0, count = 0;
    std::string_view name;
    if (!r.Head(at, name, count) || at > col) return false;
    for (uint64_t i = 0; i < count; ++i) {
      std::string_view value;
      if (!r.Bytes(value)) return false;
      if (at == col) {
        out = value;
        return true;
      }
    }
  }
  return false;
}

struct TEntryValueEntries {
  const void* (*value_blob)(void*);
  int (*value_bytes)(void*);
  int64_t (*value_int64)(void*);
  void (*result_blob)(void*, const void*, int, EngineDestructor);
  void (*result_null)(void*);
};
TEntryValueEntries entryValueEntries{};

void EntryValue(void* context, int argc, void** argv) {
  const TEntryValueEntries api = entryValueEntries;
  if (argc != 2) return api.result_null(context);
  const void* p = api.value_blob(argv[0]);
  const int n = api.value_bytes(argv[0]);
  const int64_t col = api.value_int64(argv[1]);
  std::string_view value;
  if (!p || n < 0 || col < 0 ||
      !FirstValue(std::string_view(static_cast<const char*>(p), static_cast<std::size_t>(n)),
                  static_cast<uint64_t>(col), value))
    return api.result_null(context);
  api.result_blob(context, value.data(), static_cast<int>(value.size()), EngineTransient());
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

void TEntryValuePacker::DN(std::string_view dn) {
  PutNumber(0, out_);
  PutNumber(0, out_);  // the DN's name, "dn", goes without saying
  PutNumber(1, out_);
  PutBytes(dn, out_);
}

void TEntryValuePacker::Attribute(std::size_t column, std::string_view name, std::size_t values) {
  PutNumber(column, out_);
  const bool asked = names_ && column < names_->size() && (*names_)[column] == name;
  PutBytes(asked ? std::string_view() : name, out_);
  PutNumber(values, out_);
}

void TEntryValuePacker::Value(std::string_view bytes) {
  PutBytes(bytes, out_);
}

void PackEntryValues(const TEntryValues& values, std::string& out,
                     const std::vector<std::string>* names) {
  TEntryValuePacker pack(out, names);
  pack.DN(values.DN);
  for (std::size_t c = 1; c < values.Columns.size(); ++c) {
    const TEntryAttribute& a = values.Columns[c];
    if (a.Values.empty()) continue;
    pack.Attribute(c, a.Name, a.Values.size());
    for (const std::string& v : a.Values) pack.Value(v);
  }
}

bool UnpackEntryValues(std::string_view packed, std::size_t columns, TEntryValues& out,
                       const std::vector<std::string>* names) {
  out.Reset(columns);
  TPackedReader r(packed);
  uint64_t last = 0;
  bool first = true;
  while (!r.AtEnd()) {
    uint64_t col = 0, count = 0;
    std::string_view name;
    if (!r.Head(col, name, count) || (!first && col <= last)) return false;
    first = false;
    last = col;
    TEntryAttribute* a = col > 0 && col < columns ? &out.Columns[col] : nullptr;
    if (a && name.empty() && names && col < names->size())
      a->Name.assign((*names)[col]);
    else if (a)
      a->Name.assign(name);
    for (uint64_t i = 0; i < count; ++i) {
      std::string_view value;
      if (!r.Bytes(value)) return false;
      if (col == 0 && i == 0) out.DN.assign(value);
      if (a) a->Values.emplace_back(value);
    }
  }
  return true;
}

bool RegisterEntryValueFunctions(const EngineApi& api, void* handle) {
  entryValueEntries = {api.value_blob, api.value_bytes, api.value_int64, api.result_blob,
                       api.result_null};
  return api.create_function_v2(handle, kEntryValueFunction, 2, kEngineUtf8 | kEngineDeterministic,
                                nullptr, EntryValue, nullptr, nullptr, nullptr) == kEngineOk;
}

std::vector<std::string> TableColumnNames(TASQLite3DB& db, const std::string& table) {
  std::vector<std::string> names;
  PreparedStatement q(db, "SELECT name FROM pragma_table_info(?) ORDER BY cid");
  q.BindText(1, table);
  while (q.Step()) names.emplace_back(q.ColumnBytes(0));
  return names;
}

void CreateEntryValuesTable(TASQLite3DB& db, const std::string& name) {
  db.ExecDirect("CREATE TABLE " + QuoteName(name) +
                " (entry INTEGER PRIMARY KEY, packed BLOB NOT NULL)");
}

TEntryValueWriter::TEntryValueWriter(TASQLite3DB& db, const std::string& table)
    : insert_(std::make_unique<PreparedStatement>(
          db, "INSERT INTO " + QuoteName(table) + " (entry, packed) VALUES (?, ?)")) {}

TEntryValueWriter::~TEntryValueWriter() = default;

void TEntryValueWriter::Add(int64_t entry, const TEntryValues& values) {
  packed_.clear();
  PackEntryValues(values, packed_);
  AddPacked(entry, packed_);
}

void TEntryValueWriter::AddPacked(int64_t entry, std::string_view packed) {
  insert_->BindInt64(1, entry);
  insert_->BindBlob(2, packed);
  insert_->Run();
}

TEntryValueReader::TEntryValueReader(TASQLite3DB& db, const std::string& rowsTable) {
  const std::string table = EntryValuesTable(rowsTable);
  if (!TableExists(db, table)) return;
  for (const std::string& column : TableColumnNames(db, table))
    if (column == "position") packed_ = false;
  if (packed_) names_ = TableColumnNames(db, rowsTable);
  select_ = std::make_unique<PreparedStatement>(
      db, packed_ ? "SELECT packed FROM " + QuoteName(table) + " WHERE entry = ?"
                  : "SELECT col, name, value FROM " + QuoteName(table) +
                        " WHERE entry = ? ORDER BY col, position");
}

TEntryValueReader::~TEntryValueReader() = default;

void TEntryValueReader::Read(int64_t entry, std::size_t columns, TEntryValues& out) {
  out.Reset(columns);
  if (!select_) return;
  select_->BindInt64(1, entry);
  if (packed_) {
    // A blob that is not one gives what it held up to where it breaks.
    if (select_->Step()) {
      UnpackEntryValues(select_->ColumnBytes(0), columns, out, &names_);
      select_->Reset();
    }
    return;
  }
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
